#include "app/phone_list.h"
#include "app/settings_file.h"
#include "window_fixture.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

QByteArray expectedDefaultFile()
{
    QByteArray bytes = "[Commport]=1\r\n"
                       "[CommBaud]=38400\r\n"
                       "[CommFlow]=Hardware\r\n"
                       "[CommSlaveID]=001\r\n"
                       "[DownloadSaveFile]=Logdata.csv\r\n"
                       "[PalmDatabaseFile]=c:\\Palm\\UserName\\Backup\\PLOGR2.pdb\r\n"
                       "[USEPalmDatabase]=0\r\n"
                       "[PalmFileSep]=0\r\n";
    for (int k = 1; k <= 10; ++k)
        bytes += "[Item#]= " + QByteArray::number(k) + "\r\n[ItemPhone#]= \r\n[ItemDescription]= \r\n";
    bytes += "[MeterType]=0\r\n[FlowUnits]=1\r\n[FlowFormat]=1\r\n[VelocityUnits]=1\r\n[TotalUnits]=1\r\n";
    return bytes;
}

using SettingsFileTest = WindowFixture;

} // namespace

TEST_F(SettingsFileTest, aFirstStartWritesTheDefaultFileByteForByte)
{
    ASSERT_FALSE(QFile::exists(settingsPath()));
    openWindow();
    EXPECT_EQ(settingsBytes(), expectedDefaultFile());
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(dir()).canonicalPath())
        << "a bare output file name must resolve in the program's directory";
}

TEST_F(SettingsFileTest, savingUnchangedDefaultsAltersOnlyTheFlowLineAndTheListPositions)
{
    openWindow();
    closeWindow();
    QStringList expected = defaultSettingsLines();
    expected[2] = QStringLiteral("[CommHandshaking]=Hardware");
    expected[39] = QStringLiteral("[FlowUnits]= 1");
    expected[40] = QStringLiteral("[FlowFormat]= 1");
    expected[41] = QStringLiteral("[VelocityUnits]= 1");
    expected[42] = QStringLiteral("[TotalUnits]= 1");
    EXPECT_EQ(settingsLines(), expected);
    EXPECT_TRUE(settingsBytes().endsWith("[TotalUnits]= 1\r\n"));
}

TEST_F(SettingsFileTest, whatTheUserChoseComesBackAfterARestart)
{
    DwnLoad1 &w = openWindow();
    control<QRadioButton>("Option2(2)")->click();
    control<QRadioButton>("Option1(3)")->click();
    control<QRadioButton>("Option3(0)")->click();
    control<QLineEdit>("Text1")->setText(QStringLiteral("017"));
    control<QLineEdit>("Text2")->setText(QStringLiteral("north.csv"));
    control<QRadioButton>("Option5(2)")->click();
    control<QComboBox>("Combo1")->setCurrentIndex(7);
    control<QComboBox>("Combo2")->setCurrentIndex(-1);
    w.phoneList().setCurrentCell(5, PhoneList::kPhoneCol);
    control<QLineEdit>("Text5(0)")->setText(QStringLiteral("555-0199"));
    closeWindow();

    const QStringList lines = settingsLines();
    ASSERT_EQ(lines.size(), kSettingsLineCount);
    EXPECT_EQ(lines[0], "[Commport]=3");
    EXPECT_EQ(lines[1], "[CommBaud]=9600");
    EXPECT_EQ(lines[2], "[CommHandshaking]=none");
    EXPECT_EQ(lines[3], "[CommSlaveID]=017");
    EXPECT_EQ(lines[4], "[DownloadSaveFile]=north.csv");
    EXPECT_EQ(lines[8 + 3 * 4 + 1], "[ItemPhone#]=555-0199");
    EXPECT_EQ(lines[38], "[MeterType]=2");
    EXPECT_EQ(lines[39], "[FlowUnits]= 7");
    EXPECT_EQ(lines[42], "[TotalUnits]=-1");

    DwnLoad1 &again = openWindow();
    EXPECT_EQ(again.shared().CommPortNumber, 3);
    EXPECT_EQ(again.shared().BaudRateText, "9600");
    EXPECT_EQ(again.shared().SlaveId, 17);
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), "017");
    EXPECT_EQ(again.shared().DownloadFileName, "north.csv");
    EXPECT_TRUE(control<QRadioButton>("Option5(2)")->isChecked());
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "LPM");
    EXPECT_EQ(again.listPosition(control<QComboBox>("Combo2")), -1);
    EXPECT_EQ(again.phoneList().text(5, PhoneList::kPhoneCol), "555-0199");
    // The flow control is not read back: it always starts as "Hardware (Cts/Rts)".
    EXPECT_TRUE(control<QRadioButton>("Option3(1)")->isChecked());
}

TEST_F(SettingsFileTest, portAndBaudLinesTakeTheirNumberOrFallBack)
{
    struct Case {
        const char *port;
        const char *baud;
        int portIndex;
        const char *baudText;
    };
    const Case cases[] = {
        {"[Commport]=7", "[CommBaud]=115200", 0, "38400"},
        {"[Commport]=3", "[CommBaud]=09600", 2, "9600"},
        {"[Commport]=abc", "[CommBaud]=abc", 0, "38400"},
        {"[Commport]=99999", "[CommBaud]=1200.0", 0, "1200"},
        {"x[Commport]=2", "  [CommBaud]=2400 baud", 1, "2400"},
    };
    for (const Case &c : cases) {
        QStringList lines = defaultSettingsLines();
        lines[0] = QLatin1String(c.port);
        lines[1] = QLatin1String(c.baud);
        writeSettings(lines);
        DwnLoad1 &w = openWindow();
        SCOPED_TRACE(c.port);
        EXPECT_EQ(w.shared().CommPortNumber, c.portIndex + 1);
        EXPECT_TRUE(control<QRadioButton>(QStringLiteral("Option2(%1)").arg(c.portIndex).toLatin1())->isChecked());
        EXPECT_EQ(w.shared().BaudRateText, QLatin1String(c.baudText));
    }
}

TEST_F(SettingsFileTest, aLineWithoutItsKeyIsPassedOverWithoutResynchronising)
{
    QStringList lines = defaultSettingsLines();
    lines.swapItemsAt(0, 1);
    lines[3] = QStringLiteral("[commslaveid]=042"); // keys are case-sensitive
    writeSettings(lines);
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.shared().CommPortNumber, 0);
    EXPECT_EQ(w.shared().BaudRateText, "");
    EXPECT_TRUE(control<QRadioButton>("Option2(0)")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option1(6)")->isChecked());
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), "001");
    EXPECT_EQ(w.shared().SlaveId, 0);
    // Everything after the unmatched lines is still applied.
    EXPECT_EQ(w.shared().DownloadFileName, "Logdata.csv");
    EXPECT_EQ(w.phoneList().text(10, PhoneList::kItemCol), " 10");
}

TEST_F(SettingsFileTest, aFileCutShortKeepsWhatWasReadAndAUsablePalmPath)
{
    writeSettings(defaultSettingsLines().mid(0, 5));
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.shared().DownloadFileName, "Logdata.csv");
    EXPECT_EQ(w.shared().PalmDatabasePath, kDefaultPalmDatabasePath);
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), kDefaultPalmDatabasePath);
    EXPECT_EQ(w.phoneList().text(0, PhoneList::kItemCol), "") << "headings come after the cut";
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), "Phone #");
    closeWindow();

    writeSettings(defaultSettingsLines().mid(0, 4));
    DwnLoad1 &four = openWindow();
    EXPECT_EQ(four.shared().DownloadFileName, "");
    EXPECT_EQ(four.shared().PalmDatabasePath, "");
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), "Logdata.csv");
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), "C:\\PALM\\TALVERN\\BACKUP\\PLOGR2.PDB");
}

TEST_F(SettingsFileTest, separationValueOneStopsTheReadingBeforeThePhoneList)
{
    QStringList lines = defaultSettingsLines();
    lines[7] = QStringLiteral("[PalmFileSep]=1");
    lines[38] = QStringLiteral("[MeterType]=2");
    writeSettings(lines);
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.phoneList().text(0, PhoneList::kPhoneCol), "");
    EXPECT_EQ(w.phoneList().text(1, PhoneList::kItemCol), "");
    EXPECT_TRUE(control<QRadioButton>("Option5(0)")->isChecked());
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "CFS");
}

TEST_F(SettingsFileTest, badValuesInTheLastLinesStopTheReadingThere)
{
    QStringList lines = defaultSettingsLines();
    lines[42] = QStringLiteral("[TotalUnits]=9");
    lines[39] = QStringLiteral("[FlowUnits]= 14 ");
    lines[38] = QStringLiteral("[MeterType]=5");
    writeSettings(lines);
    openWindow();
    EXPECT_TRUE(control<QRadioButton>("Option5(0)")->isChecked());
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "BPH");
    EXPECT_EQ(control<QComboBox>("Combo4")->currentText(), "MPS");
    EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), "CUFT") << "position 9 is past the list";
    // Reading stopped before the phone list was made current.
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), "Phone #");
    closeWindow();

    lines = defaultSettingsLines();
    lines[38] = QStringLiteral("[MeterType]=two");
    lines[39] = QStringLiteral("[FlowUnits]=3");
    writeSettings(lines);
    openWindow();
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "CFS");
}

TEST_F(SettingsFileTest, aDamagedFileIsKeptAsBackupBeforeItIsReplaced)
{
    QStringList lines = defaultSettingsLines();
    lines[7] = QStringLiteral("[PalmFileSep]=1");
    lines[10] = QStringLiteral("[ItemPhone#]=555-0100");
    writeSettings(lines);
    const QByteArray damaged = settingsBytes();
    openWindow();
    closeWindow();
    QFile backup(settingsPath() + QStringLiteral(".bak"));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), damaged);
    EXPECT_EQ(settingsLines().size(), kSettingsLineCount);

    // A file that reads to its end leaves no backup behind.
    backup.close();
    QFile::remove(backup.fileName());
    openWindow();
    closeWindow();
    EXPECT_FALSE(QFile::exists(backup.fileName()));
}

TEST_F(SettingsFileTest, aSettingsFileThatCannotBeWrittenLeavesTheOldOneAndFailsQuietly)
{
    SettingsFile nowhere(dir() + QStringLiteral("/no/such/folder"));
    EXPECT_FALSE(nowhere.save(SettingsSnapshot{}));
    EXPECT_FALSE(nowhere.lastError().isEmpty());

    // A settings file that is a folder cannot be replaced; the program carries on.
    QDir(dir()).mkdir(QStringLiteral("7700dwn.ini"));
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.shared().CommPortNumber, 0);
    closeWindow();
    EXPECT_TRUE(QFileInfo(settingsPath()).isDir());
}

TEST_F(SettingsFileTest, linesEndedByLineFeedsAloneReadTheSame)
{
    QByteArray bytes = expectedDefaultFile();
    bytes.replace("\r\n", "\n");
    bytes.replace("[Commport]=1", "[Commport]=4");
    writeSettingsBytes(bytes);
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.shared().CommPortNumber, 4);
    EXPECT_EQ(w.phoneList().text(10, PhoneList::kItemCol), " 10");
}

TEST(SettingsBytes, aGroupWithNothingSelectedLeavesItsLineOut)
{
    SettingsSnapshot s;
    s.portIndex = -1;
    s.baudCaption = QStringLiteral("1200");
    const QStringList lines = QString::fromLatin1(settingsBytes(s)).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines[0], "[CommBaud]=1200");
    EXPECT_EQ(lines.size() - 1, kSettingsLineCount - 1);
}

TEST(SettingsBytes, valuesKeepEveryByteOfTheSingleByteCodePage)
{
    SettingsSnapshot s;
    s.phoneList[0][2] = QString::fromLatin1("Pump \xe9 \xb0 north ");
    const QByteArray bytes = settingsBytes(s);
    EXPECT_TRUE(bytes.contains("[ItemDescription]=Pump \xe9 \xb0 north \r\n"));
}

#include "app/settings_file.h"
#include "window_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <functional>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

QByteArray expectedDefaultFile()
{
    QByteArray bytes = "[Commport]=1\r\n[CommBaud]=38400\r\n[CommFlow]=Hardware\r\n[CommSlaveID]=001\r\n"
                       "[DownloadSaveFile]=Logdata.csv\r\n"
                       "[PalmDatabaseFile]=c:\\Palm\\UserName\\Backup\\PLOGR2.pdb\r\n"
                       "[USEPalmDatabase]=0\r\n[PalmFileSep]=0\r\n";
    for (int k = 1; k <= 10; ++k)
        bytes += "[Item#]= " + QByteArray::number(k) + "\r\n[ItemPhone#]= \r\n[ItemDescription]= \r\n";
    return bytes + "[MeterType]=0\r\n[FlowUnits]=1\r\n[FlowFormat]=1\r\n[VelocityUnits]=1\r\n[TotalUnits]=1\r\n";
}

// What a reading gave, in one line: "-" for a value the file did not give.
QString summary(const Settings &s)
{
    const auto o = [](const auto &v) { return v ? QVariant(*v).toString() : QStringLiteral("-"); };
    const QString phone = s.phoneListReached ? o(s.phoneList[9][0]) : QStringLiteral("no");
    return QStringLiteral("port %1 baud %2 slave %3 file %4 palm %5 use %6 sep %7 item10 %8 type %9")
               .arg(o(s.portIndex), o(s.baudIndex), o(s.slaveIdText), o(s.downloadFileText),
                    o(s.palmDatabasePath).replace(kDefaultPalmDatabasePath, QStringLiteral("DEF")),
                    o(s.palmCheckState), o(s.separationIndex), phone, o(s.meterTypeIndex)) +
           QStringLiteral(" lists %1/%2/%3/%4 stop %5")
               .arg(o(s.flowUnits), o(s.flowFormat), o(s.velocityUnits), o(s.totalUnits))
               .arg(s.stoppedAtLine);
}

} // namespace

TEST(SettingsReading, eachDamagedOrReorderedLineHasItsOwnEffect)
{
    const QString whole = QStringLiteral(" type 0 lists 1/1/1/1 stop 0");
    struct Row {
        std::function<void(QStringList &)> edit;
        QString expected;
    };
    const auto set = [](int line, const char *text) { return [=](QStringList &l) { l[line] = QLatin1String(text); }; };
    const Row rows[] = {
        {[](QStringList &) {}, "port 0 baud 6 slave 001 file Logdata.csv palm DEF use 0 sep 0 item10  10" + whole},
        {[](QStringList &l) { l[0] = "[Commport]=7", l[1] = "[CommBaud]=115200"; }, "port 0 baud 6 "},
        {[](QStringList &l) { l[0] = "[Commport]=3", l[1] = "[CommBaud]=09600"; }, "port 2 baud 3 "},
        {[](QStringList &l) { l[0] = "[Commport]=abc", l[1] = "[CommBaud]=abc"; }, "port 0 baud 6 "},
        {[](QStringList &l) { l[0] = "[Commport]=99999", l[1] = "[CommBaud]=1200.0"; }, "port 0 baud 0 "},
        {[](QStringList &l) { l[0] = "x[Commport]=2", l[1] = "  [CommBaud]=2400 baud"; }, "port 1 baud 1 "},
        // Keys are matched by position and case: nothing resynchronises, and what follows still applies.
        {[](QStringList &l) { l.swapItemsAt(0, 1), l[3] = "[commslaveid]=042"; },
         "port - baud - slave - file Logdata.csv palm DEF use 0 sep 0 item10  10" + whole},
        {[](QStringList &l) { l = l.mid(0, 5); }, "slave 001 file Logdata.csv palm DEF use - sep - item10 no type - lists -/-/-/- stop 6"},
        {[](QStringList &l) { l = l.mid(0, 4); }, "file - palm - use - sep - item10 no type - lists -/-/-/- stop 5"},
        {set(6, "[USEPalmDatabase]=2"), "use 2 sep 0"},
        {set(6, "[USEPalmDatabase]=x"), "use 0 sep 0"},
        {[](QStringList &l) { l[7] = "[PalmFileSep]=1", l[38] = "[MeterType]=2"; }, "sep - item10 no type - lists -/-/-/- stop 8"},
        {set(7, "[PalmFileSep]=2"), "sep 2 "},
        {[](QStringList &l) { l[38] = "[MeterType]=5", l[39] = "[FlowUnits]= 14 ", l[42] = "[TotalUnits]=9"; },
         "type 0 lists 14/1/1/- stop 43"},
        {[](QStringList &l) { l[38] = "[MeterType]=two", l[39] = "[FlowUnits]=3"; }, "type - lists -/-/-/- stop 39"},
        {set(38, "[MeterType]=1"), "type 1 lists"},
        {set(40, "[FlowFormat]=-2"), "lists 1/-/-/- stop 41"},
    };
    for (const Row &row : rows) {
        QStringList lines = defaultSettingsLines();
        row.edit(lines);
        const QString got = summary(readSettings(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n"));
        EXPECT_TRUE(got.contains(row.expected)) << got.toStdString() << "\n  wanted " << row.expected.toStdString();
    }
}

TEST(SettingsReading, linesEndedByLineFeedsAloneReadTheSame)
{
    QByteArray bytes = expectedDefaultFile().replace("\r\n", "\n").replace("[Commport]=1", "[Commport]=4");
    EXPECT_TRUE(summary(readSettings(bytes)).startsWith("port 3 baud 6 slave 001 file Logdata.csv palm DEF use 0 sep 0 item10  10 type 0 lists 1/1/1/1 stop 0"));
}

TEST(SettingsWriting, theDefaultFileAndAWrittenValueAreByteExact)
{
    EXPECT_EQ(defaultSettingsBytes(), expectedDefaultFile());

    Settings s;
    s.baudIndex = 0;       // no port selected: its line is left out
    s.handshakeIndex = 0;
    s.separationIndex = 1; // no such option: left out
    s.meterTypeIndex = 3;  // the portable is not kept
    s.flowUnits = 7;
    s.totalUnits = -1;
    s.phoneList[0] = {QStringLiteral(" 1"), QStringLiteral("555"), QString::fromLatin1("Pump \xe9 \xb0 north ")};
    const QByteArray bytes = settingsBytes(s);
    EXPECT_TRUE(bytes.startsWith("[CommBaud]=1200\r\n[CommHandshaking]=none\r\n[CommSlaveID]=\r\n[DownloadSaveFile]=\r\n"
                                 "[PalmDatabaseFile]=\r\n[USEPalmDatabase]=0\r\n[Item#]= 1\r\n[ItemPhone#]=555\r\n"
                                 "[ItemDescription]=Pump \xe9 \xb0 north \r\n"));
    EXPECT_TRUE(bytes.endsWith("[MeterType]=0\r\n[FlowUnits]= 7\r\n[FlowFormat]=-1\r\n[VelocityUnits]=-1\r\n[TotalUnits]=-1\r\n"));
}

using SettingsFileTest = WindowFixture;

TEST_F(SettingsFileTest, aDamagedFileIsKeptAsBackupBeforeItIsReplaced)
{
    QStringList lines = defaultSettingsLines();
    lines[7] = QStringLiteral("[PalmFileSep]=1");
    lines[10] = QStringLiteral("[ItemPhone#]=555-0100");
    writeSettings(lines);
    const QByteArray damaged = settingsBytes();
    SettingsFile file(dir());
    ASSERT_EQ(file.load()->stoppedAtLine, 8);
    ASSERT_TRUE(file.save(Settings{}));
    QFile backup(settingsPath() + QStringLiteral(".bak"));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), damaged);
    backup.close();

    // A file that reads to its end leaves no backup behind.
    QFile::remove(backup.fileName());
    writeSettingsBytes(defaultSettingsBytes());
    SettingsFile whole(dir());
    ASSERT_TRUE(whole.load()->complete());
    ASSERT_TRUE(whole.save(Settings{}));
    EXPECT_FALSE(QFile::exists(backup.fileName()));
}

TEST_F(SettingsFileTest, aSettingsFileThatCannotBeReadOrWrittenFailsQuietly)
{
    SettingsFile nowhere(dir() + QStringLiteral("/no/such/folder"));
    EXPECT_FALSE(nowhere.save(Settings{}));
    EXPECT_FALSE(nowhere.lastError().isEmpty());

    // A settings file that is a folder cannot be replaced; the program carries on.
    QDir(dir()).mkdir(QStringLiteral("7700dwn.ini"));
    openWindow();
    closeWindow();
    EXPECT_TRUE(QFileInfo(settingsPath()).isDir());
}

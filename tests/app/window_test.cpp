#include "app/phone_list.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

using WindowTest = WindowFixture;

QStringList tabTexts(QTabWidget *tabs)
{
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    return texts;
}

} // namespace

TEST_F(WindowTest, opensOnDisplayMeterWithTheLoadedDefaultsAndNothingRunning)
{
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.windowTitle(), "Ostrand Download Revision 1.17");
    EXPECT_EQ(w.objectName(), "DwnLoad1");
    auto *tabs = control<QTabWidget>("SSTab1");
    // The six tabs operators know, in their order; the monitor comes after them.
    EXPECT_EQ(tabTexts(tabs), QStringList({"Download", "View", "Settings", "Display Meter", "Dialer",
                                           "Palm DataBase", "Monitor"}));
    EXPECT_EQ(tabs->currentIndex(), 3);

    const QList<QAction *> menu = w.menuBar()->actions();
    ASSERT_EQ(menu.size(), 1);
    EXPECT_EQ(menu[0]->objectName(), "File_mnu");
    EXPECT_EQ(menu[0]->text(), "E&xit");
    EXPECT_EQ(menu[0]->menu(), nullptr);

    EXPECT_TRUE(control<QRadioButton>("Option2(0)")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option1(6)")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option3(1)")->isChecked());
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), "001");
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), "Logdata.csv");
    EXPECT_TRUE(control<QRadioButton>("Option5(0)")->isChecked());
    EXPECT_EQ(w.shared().CommPortNumber, 1);
    EXPECT_EQ(w.shared().BaudRateText, "38400");
    EXPECT_EQ(w.shared().SlaveId, 1);
    EXPECT_EQ(w.shared().DownloadFileName, "Logdata.csv");
    EXPECT_EQ(w.shared().PalmDatabasePath, "c:\\Palm\\UserName\\Backup\\PLOGR2.pdb");

    EXPECT_TRUE(port_.opens().empty()) << "the port opens on the first exchange, not at start";
    for (const char *timer : {"Timer1", "Timer2", "Timer3"})
        EXPECT_FALSE(control<QTimer>(timer)->isActive()) << timer;
    EXPECT_EQ(control<QTimer>("Timer1")->interval(), 750);
    EXPECT_EQ(control<QTimer>("Timer2")->interval(), 1000);
    EXPECT_EQ(control<QTimer>("Timer3")->interval(), 1000);

    EXPECT_TRUE(control<QPushButton>("Command5")->isHidden());
    EXPECT_TRUE(control<QLabel>("Label9")->isHidden());
    EXPECT_TRUE(control<QComboBox>("SortList")->isHidden());
    EXPECT_FALSE(control<QPushButton>("Command7")->isHidden());
    EXPECT_FALSE(control<QGroupBox>("Frame11")->isHidden());
    for (const char *hidden : {"Frame12", "Frame13", "Frame14", "Frame15"})
        EXPECT_TRUE(control<QGroupBox>(hidden)->isHidden()) << hidden;
    EXPECT_TRUE(control<QLineEdit>("Text4(4)")->isHidden());
    EXPECT_TRUE(control<QLabel>("Label10")->isHidden());
    EXPECT_EQ(control<QLabel>("Label6")->text(), "Okay");
}

TEST_F(WindowTest, everyControlCarriesItsNameAndCaption)
{
    openWindow(false);
    const std::pair<const char *, const char *> buttons[] = {
        {"Command2", "Download Data"}, {"Command3", "Change Filename"},
        {"Command4", "Dial this Number"}, {"Command5", "Hangup"},
        {"Command6", "Get ID List..."}, {"Command7", "Since Last Time"},
        {"Command8", "Browse for Palm Database"}, {"Command9", "Begin"},
        {"Command1(3)", "Help / ."}, {"Command1(7)", "Up/Next"}, {"Command1(11)", "Down"},
        {"Command1(12)", "Menu"}, {"Command1(13)", "0"}, {"Command1(14)", "Enter"},
        {"Command1(15)", "2nd"}};
    for (const auto &[name, caption] : buttons)
        EXPECT_EQ(control<QPushButton>(name)->text(), QLatin1String(caption)) << name;

    const std::pair<const char *, const char *> labels[] = {
        {"Label1", "Slave ID"}, {"Label2", "Store Records into File"},
        {"Label3(0)", "Channel #1"}, {"Label3(7)", "Channel #8"},
        {"Label3(8)", "Records available"}, {"Label3(9)", "Records used"},
        {"Label5", "Status"}, {"Label7", "List of Numbers"}, {"Label10", "Alarms"}};
    for (const auto &[name, caption] : labels)
        EXPECT_EQ(control<QLabel>(name)->text(), QLatin1String(caption)) << name;
    for (int i = 0; i < 10; ++i)
        control<QLineEdit>(QStringLiteral("Text3(%1)").arg(i).toLatin1());

    const std::pair<const char *, const char *> options[] = {
        {"Option1(0)", "1200"}, {"Option1(4)", "14400"}, {"Option2(3)", "Comm4"},
        {"Option3(0)", "None"}, {"Option3(1)", "Hardware (Cts/Rts)"},
        {"Option4(0)", "Modbus ID of meter"}, {"Option4(2)", "Dont Separate"},
        {"Option5(1)", "8100 "}, {"Option5(2)", "8300 "}, {"Option5(3)", "R1900 Portable"}};
    for (const auto &[name, caption] : options)
        EXPECT_EQ(control<QRadioButton>(name)->text(), QLatin1String(caption)) << name;

    EXPECT_EQ(window_->findChild<QRadioButton *>(QStringLiteral("Option4(1)")), nullptr);

    const std::pair<const char *, const char *> frames[] = {
        {"Frame1", "Baud Rate"}, {"Frame2", "Communication Port"}, {"Frame3", "Flow Control"},
        {"Frame4", "Channels"}, {"Frame5", "Status"}, {"Frame6", "DownLoad Filename"},
        {"Frame7", "Start Download"}, {"Frame8(0)", ""}, {"Frame10", "Meter Type"},
        {"Frame11", ""}, {"Frame12", "Flow Units"}, {"Frame13", "Total Units"},
        {"Frame14", "Flow Format"}, {"Frame15", "Velocity Units"}};
    for (const auto &[name, caption] : frames)
        EXPECT_EQ(control<QGroupBox>(name)->title(), QLatin1String(caption)) << name;

    EXPECT_EQ(control<QCheckBox>("Check1")->text(), "Use Palm DataBase");
    EXPECT_EQ(control<QCheckBox>("Check2")->text(), "R1900 Portable");
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "CFS");
    EXPECT_EQ(control<QComboBox>("Combo1")->count(), 15);
    EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), "CUFT");
    EXPECT_EQ(control<QComboBox>("Combo3")->currentText(), "#.##");
    EXPECT_EQ(control<QComboBox>("Combo4")->currentText(), "FPS");
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), "Phone #");
    EXPECT_EQ(control<QLineEdit>("Text5(1)")->text(), "Description");
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), "C:\\PALM\\TALVERN\\BACKUP\\PLOGR2.PDB");
    control<QProgressBar>("ProgressBar1");

    auto *grid = control<QTableView>("MSHFlexGrid1");
    EXPECT_EQ(grid->model()->rowCount(), 65534) << "65535 rows, the first fixed";
    EXPECT_EQ(grid->model()->columnCount(), 9) << "10 columns, the first fixed";
    auto *phones = control<QTableView>("MSHFlexGrid2");
    EXPECT_EQ(phones->model()->rowCount(), 10);
    EXPECT_EQ(phones->model()->columnCount(), 3);
}

TEST_F(WindowTest, leavingDisplayMeterStopsTheTwoPollsAndOtherMovesChangeNothing)
{
    openWindow();
    auto *tabs = control<QTabWidget>("SSTab1");
    QTimer *t1 = control<QTimer>("Timer1");
    QTimer *t2 = control<QTimer>("Timer2");
    QTimer *t3 = control<QTimer>("Timer3");
    t1->start();
    t2->start();
    t3->start();
    tabs->setCurrentIndex(0);
    EXPECT_FALSE(t1->isActive());
    EXPECT_FALSE(t2->isActive());
    EXPECT_TRUE(t3->isActive()) << "the portable's poll goes on";

    t1->start();
    t2->start();
    tabs->setCurrentIndex(4);
    tabs->setCurrentIndex(2);
    EXPECT_TRUE(t1->isActive());
    EXPECT_TRUE(t2->isActive());
    tabs->setCurrentIndex(3);
    EXPECT_TRUE(t1->isActive()) << "returning does not restart or stop anything";
}

TEST_F(WindowTest, settingsOptionsAndSlaveIdFeedTheSharedVariables)
{
    DwnLoad1 &w = openWindow();
    control<QRadioButton>("Option1(0)")->click();
    EXPECT_EQ(w.shared().BaudRateText, "1200");
    control<QRadioButton>("Option2(3)")->click();
    EXPECT_EQ(w.shared().CommPortNumber, 4);

    auto *slave = control<QLineEdit>("Text1");
    const std::pair<const char *, int> values[] = {
        {"001", 1}, {"abc", 0}, {"2.5", 2}, {"3.5", 4}, {"12ab", 12}, {" -7", -7}, {"32767", 32767}};
    for (const auto &[text, id] : values) {
        slave->setText(QLatin1String(text));
        EXPECT_EQ(w.shared().SlaveId, id) << text;
        EXPECT_FALSE(slave->property("invalid").toBool()) << text;
    }
    slave->setText(QStringLiteral("40"));
    for (const char *tooBig : {"32768", "99999", "-32769", "3276800000000000000000"}) {
        slave->setText(QLatin1String(tooBig));
        EXPECT_EQ(w.shared().SlaveId, 40) << tooBig << " must not wrap";
        EXPECT_TRUE(slave->property("invalid").toBool()) << tooBig;
    }
    slave->setText(QStringLiteral("5"));
    EXPECT_EQ(w.shared().SlaveId, 5);
    EXPECT_FALSE(slave->property("invalid").toBool());
}

TEST_F(WindowTest, aSlaveIdTooLargeInTheFileKeepsLoadingAndIsWrittenBackAsTyped)
{
    QStringList lines = defaultSettingsLines();
    lines[3] = QStringLiteral("[CommSlaveID]=70000");
    writeSettings(lines);
    DwnLoad1 &w = openWindow();
    EXPECT_EQ(w.shared().SlaveId, 0);
    EXPECT_TRUE(control<QLineEdit>("Text1")->property("invalid").toBool());
    EXPECT_EQ(w.phoneList().text(1, PhoneList::kItemCol), " 1");
    closeWindow();
    EXPECT_EQ(settingsLines()[3], "[CommSlaveID]=70000");
}

TEST_F(WindowTest, changeFilenameUsesTheFullPathUntilExitAndKeepsTheBareName)
{
    DwnLoad1 &w = openWindow();
    dialogs_.answerNext(QStringLiteral("/data/meters/north.csv"));
    control<QPushButton>("Command3")->click();
    ASSERT_EQ(dialogs_.questions().size(), 1u);
    EXPECT_EQ(dialogs_.questions()[0].title, "Data Filename Selection");
    EXPECT_EQ(dialogs_.questions()[0].filter, "*.csv");
    EXPECT_EQ(dialogs_.questions()[0].proposedName, "Logdata.csv");
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), "north.csv");
    EXPECT_EQ(w.shared().DownloadFileName, "/data/meters/north.csv");

    dialogs_.answerNext(std::nullopt);
    control<QPushButton>("Command3")->click();
    EXPECT_EQ(w.shared().DownloadFileName, "/data/meters/north.csv") << "cancel changes nothing";
    closeWindow();

    EXPECT_EQ(settingsLines()[4], "[DownloadSaveFile]=north.csv");
    EXPECT_EQ(openWindow().shared().DownloadFileName, "north.csv");
}

TEST_F(WindowTest, closingTheWindowSavesOnceAndExitSavesOnceWithoutTheClosePath)
{
    openWindow();
    control<QRadioButton>("Option2(1)")->click();
    window_->close();
    EXPECT_EQ(settingsLines()[0], "[Commport]=2");
    writeSettingsBytes("sentinel\r\n");
    window_->close();
    EXPECT_EQ(settingsBytes(), "sentinel\r\n") << "a second close must not save again";
    window_.reset();

    openWindow();
    control<QRadioButton>("Option2(3)")->click();
    window_->findChild<QAction *>(QStringLiteral("File_mnu"))->trigger();
    EXPECT_EQ(exits_, 1);
    EXPECT_EQ(settingsLines()[0], "[Commport]=4");
    writeSettingsBytes("sentinel\r\n");
    window_->close();
    EXPECT_EQ(settingsBytes(), "sentinel\r\n");
}

TEST_F(WindowTest, meterTypeSelectionShowsItsControlsAndPortableIsNotKept)
{
    openWindow();
    control<QLineEdit>("Text4(0)")->setText(QStringLiteral("FLOW"));
    control<QRadioButton>("Option5(3)")->click();
    EXPECT_TRUE(control<QTimer>("Timer3")->isActive());
    EXPECT_TRUE(control<QGroupBox>("Frame11")->isHidden());
    EXPECT_FALSE(control<QGroupBox>("Frame12")->isHidden());
    EXPECT_FALSE(control<QLabel>("Label10")->isHidden());
    EXPECT_EQ(control<QLineEdit>("Text4(0)")->text(), "");

    control<QTimer>("Timer2")->start();
    control<QRadioButton>("Option5(1)")->click();
    EXPECT_FALSE(control<QTimer>("Timer3")->isActive());
    EXPECT_TRUE(control<QTimer>("Timer2")->isActive()) << "a poll of the same kind goes on";

    control<QRadioButton>("Option5(3)")->click();
    closeWindow();
    EXPECT_EQ(settingsLines()[38], "[MeterType]=0");
    openWindow();
    EXPECT_TRUE(control<QRadioButton>("Option5(0)")->isChecked());
    EXPECT_FALSE(control<QTimer>("Timer3")->isActive());

}

TEST_F(WindowTest, palmModeFromTheFileShowsItsControlsAndIsWrittenBack)
{
    for (const char *state : {"1", "2"}) {
        QStringList lines = defaultSettingsLines();
        lines[6] = QStringLiteral("[USEPalmDatabase]=") + QLatin1String(state);
        lines[7] = QStringLiteral("[PalmFileSep]=2");
        writeSettings(lines);
        openWindow();
        SCOPED_TRACE(state);
        EXPECT_FALSE(control<QLabel>("Label9")->isHidden());
        EXPECT_FALSE(control<QComboBox>("SortList")->isHidden());
        EXPECT_FALSE(control<QPushButton>("Command6")->isHidden());
        EXPECT_TRUE(control<QPushButton>("Command7")->isHidden());
        EXPECT_EQ(control<QLabel>("Label9")->text(), "Files not separated");
        closeWindow();
        EXPECT_EQ(settingsLines()[6], QStringLiteral("[USEPalmDatabase]=") + QLatin1String(state));
        EXPECT_EQ(settingsLines()[7], "[PalmFileSep]=2");
    }
    openWindow();
    control<QCheckBox>("Check1")->click();
    EXPECT_EQ(control<QCheckBox>("Check1")->checkState(), Qt::Checked) << "by hand: greyed goes to ticked";
    control<QCheckBox>("Check1")->click();
    EXPECT_TRUE(control<QLabel>("Label9")->isHidden());
    EXPECT_FALSE(control<QPushButton>("Command7")->isHidden());
}

TEST_F(WindowTest, browsingForThePalmFileSetsThePathThatIsSaved)
{
    DwnLoad1 &w = openWindow();
    control<QLineEdit>("Text6")->setText(QStringLiteral("typed by hand"));
    EXPECT_EQ(w.shared().PalmDatabasePath, "c:\\Palm\\UserName\\Backup\\PLOGR2.pdb");
    dialogs_.answerNext(std::nullopt);
    control<QPushButton>("Command8")->click();
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), "typed by hand");
    dialogs_.answerNext(QStringLiteral("/home/op/PLOGR2.PDB"));
    control<QPushButton>("Command8")->click();
    EXPECT_EQ(dialogs_.questions().back().title, "Palm Database Selection");
    EXPECT_EQ(dialogs_.questions().back().kind, FakeFileDialogs::Kind::Open);
    EXPECT_EQ(w.shared().PalmDatabasePath, "/home/op/PLOGR2.PDB");
    closeWindow();
    EXPECT_EQ(settingsLines()[5], "[PalmDatabaseFile]=/home/op/PLOGR2.PDB");
}

TEST_F(WindowTest, theSettingsTabTellsWhichDeviceEachCommOptionOpens)
{
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), QDir(dir()).filePath(QStringLiteral("COM2"))));
    openWindow();
    control<QTabWidget>("SSTab1")->setCurrentIndex(2);
    EXPECT_TRUE(control<QRadioButton>("Option2(1)")->toolTip().contains("/dev/null"));
    EXPECT_TRUE(control<QRadioButton>("Option2(0)")->toolTip().contains("/dev/ttyS0"));
}

#include "app/download_tab.h"
#include "app/phone_list.h"
#include "app/settings_tab.h"
#include "window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

using WindowTest = WindowFixture;

bool shown(QWidget *w)
{
    return !w->isHidden();
}

} // namespace

TEST_F(WindowTest, opensOnDisplayMeterWithTheLoadedDefaultsAndNothingRunning)
{
    openWindow();
    EXPECT_EQ(control<QTabWidget>("SSTab1")->currentIndex(), 3);
    auto *link = window_->findChild<SettingsTab *>();
    EXPECT_EQ(link->portNumber(), 1);
    EXPECT_EQ(link->baudRateText(), "38400");
    EXPECT_EQ(link->slaveId(), 1);
    EXPECT_TRUE(control<QRadioButton>("Option2(0)")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option1(6)")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option3(1)")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("Option5(0)")->isChecked());
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), "Logdata.csv");
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), " ") << "the first phone entry is chosen";

    EXPECT_TRUE(port_.opens().empty()) << "the port opens on the first exchange, not at start";
    for (const char *timer : {"Timer1", "Timer2", "Timer3"})
        EXPECT_FALSE(control<QTimer>(timer)->isActive()) << timer;
    for (const char *hidden : {"Command5", "Label9", "SortList", "Command6", "Frame12", "Frame15", "Text4(4)", "Label10"})
        EXPECT_FALSE(shown(control<QWidget>(hidden))) << hidden;
    EXPECT_TRUE(shown(control<QWidget>("Command7")));
    EXPECT_TRUE(shown(control<QWidget>("Frame11")));
}

TEST_F(WindowTest, aFileCutShortLeavesTheRestOfTheWindowAsBuilt)
{
    writeSettings(defaultSettingsLines().mid(0, 5));
    openWindow();
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), kDefaultPalmDatabasePath);
    EXPECT_EQ(window_->phoneList().text(0, PhoneList::kItemCol), "") << "headings come after the cut";
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), "Phone #");
}

TEST_F(WindowTest, leavingDisplayMeterStopsTheTwoPollsAndOtherMovesChangeNothing)
{
    openWindow();
    auto *tabs = control<QTabWidget>("SSTab1");
    QTimer *timers[] = {control<QTimer>("Timer1"), control<QTimer>("Timer2"), control<QTimer>("Timer3")};
    for (QTimer *t : timers)
        t->start();
    tabs->setCurrentIndex(0);
    EXPECT_FALSE(timers[0]->isActive());
    EXPECT_FALSE(timers[1]->isActive());
    EXPECT_TRUE(timers[2]->isActive()) << "the portable's poll goes on";
    timers[0]->start();
    tabs->setCurrentIndex(4);
    tabs->setCurrentIndex(3);
    EXPECT_TRUE(timers[0]->isActive()) << "only leaving Display Meter stops anything";
}

TEST_F(WindowTest, theSlaveIdBoxTakesMeterAddressesOnlyAndKeepsTheLastGoodOne)
{
    openWindow();
    auto *link = window_->findChild<SettingsTab *>();
    auto *box = control<QLineEdit>("Text1");
    const std::pair<const char *, int> rows[] = {{"001", 1}, {"abc", 0},   {"2.5", 2},   {"3.5", 4},   {"12ab", 12},
                                                 {"255", 255}, {"256", -1}, {" -7", -1}, {"70000", -1}, {"5", 5}};
    int lastGood = 1;
    for (const auto &[text, id] : rows) {
        box->setText(QLatin1String(text));
        lastGood = id >= 0 ? id : lastGood;
        EXPECT_EQ(link->slaveId(), lastGood) << text;
        EXPECT_EQ(box->property("invalid").toBool(), id < 0) << text;
    }
}

TEST_F(WindowTest, aDownloadForASlaveIdOutOfRangeIsRefusedAndTheTextIsKept)
{
    QStringList lines = defaultSettingsLines();
    lines[3] = QStringLiteral("[CommSlaveID]=300");
    writeSettings(lines);
    openWindow();
    EXPECT_TRUE(control<QLineEdit>("Text1")->property("invalid").toBool());
    control<QPushButton>("Command2")->click();
    control<QPushButton>("Command7")->click();
    EXPECT_TRUE(control<QLabel>("Label4")->text().startsWith("Slave ID out of range (0 to 255)"));
    EXPECT_TRUE(port_.sends().empty());
    closeWindow();
    EXPECT_EQ(settingsLines()[3], "[CommSlaveID]=300");
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

    openWindow();
    control<QRadioButton>("Option2(3)")->click();
    window_->findChild<QAction *>(QStringLiteral("File_mnu"))->trigger();
    EXPECT_EQ(exits_, 1);
    EXPECT_EQ(settingsLines()[0], "[Commport]=4");
    writeSettingsBytes("sentinel\r\n");
    window_->close();
    EXPECT_EQ(settingsBytes(), "sentinel\r\n");
}

TEST_F(WindowTest, whatTheUserChoseIsSavedAndComesBackAfterARestart)
{
    openWindow();
    closeWindow();
    QStringList expected = defaultSettingsLines();
    expected[2] = QStringLiteral("[CommHandshaking]=Hardware");
    for (int line = 39; line < 43; ++line)
        expected[line].replace(QStringLiteral("=1"), QStringLiteral("= 1"));
    EXPECT_EQ(settingsLines(), expected) << "unchanged defaults alter only the flow line and the list positions";

    openWindow();
    control<QRadioButton>("Option2(2)")->click();
    control<QRadioButton>("Option1(3)")->click();
    control<QRadioButton>("Option3(0)")->click();
    control<QLineEdit>("Text1")->setText(QStringLiteral("017"));
    dialogs_.answerNext(QStringLiteral("/data/meters/north.csv"));
    control<QPushButton>("Command3")->click();
    EXPECT_EQ(window_->downloadTab().outputFile(), "/data/meters/north.csv") << "this run writes to the full path";
    control<QRadioButton>("Option5(2)")->click();
    control<QComboBox>("Combo1")->setCurrentIndex(7);
    control<QComboBox>("Combo2")->setCurrentIndex(-1);
    window_->phoneList().setCurrentCell(5, PhoneList::kPhoneCol);
    control<QLineEdit>("Text5(0)")->setText(QStringLiteral("555-0199"));
    closeWindow();
    const QStringList lines = settingsLines();
    ASSERT_EQ(lines.size(), kSettingsLineCount);
    EXPECT_EQ(lines.mid(0, 5), QStringList({"[Commport]=3", "[CommBaud]=9600", "[CommHandshaking]=none",
                                            "[CommSlaveID]=017", "[DownloadSaveFile]=north.csv"}));
    EXPECT_EQ(lines[8 + 3 * 4 + 1], "[ItemPhone#]=555-0199");
    EXPECT_EQ(lines.mid(38), QStringList({"[MeterType]=2", "[FlowUnits]= 7", "[FlowFormat]= 1",
                                          "[VelocityUnits]= 1", "[TotalUnits]=-1"}));

    openWindow();
    auto *link = window_->findChild<SettingsTab *>();
    EXPECT_EQ(link->portNumber(), 3);
    EXPECT_EQ(link->baudRateText(), "9600");
    EXPECT_EQ(link->slaveId(), 17);
    EXPECT_EQ(window_->downloadTab().outputFile(), "north.csv");
    EXPECT_TRUE(control<QRadioButton>("Option5(2)")->isChecked());
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "LPM");
    EXPECT_EQ(window_->phoneList().text(5, PhoneList::kPhoneCol), "555-0199");
    // The flow control is not read back: it always starts as "Hardware (Cts/Rts)".
    EXPECT_TRUE(control<QRadioButton>("Option3(1)")->isChecked());
}

TEST_F(WindowTest, thePortableMeterShowsItsControlsAndIsNotKept)
{
    openWindow();
    control<QRadioButton>("Option5(3)")->click();
    EXPECT_TRUE(control<QTimer>("Timer3")->isActive());
    EXPECT_FALSE(shown(control<QWidget>("Frame11")));
    EXPECT_TRUE(shown(control<QWidget>("Frame12")));
    EXPECT_TRUE(shown(control<QWidget>("Label10")));
    closeWindow();
    EXPECT_EQ(settingsLines()[38], "[MeterType]=0");
    openWindow();
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
        for (const char *palmControl : {"Label9", "SortList", "Command6"})
            EXPECT_TRUE(shown(control<QWidget>(palmControl))) << palmControl;
        EXPECT_FALSE(shown(control<QWidget>("Command7")));
        EXPECT_EQ(control<QLabel>("Label9")->text(), "Files not separated");
        closeWindow();
        EXPECT_EQ(settingsLines().mid(6, 2), lines.mid(6, 2));
    }
    openWindow();
    control<QCheckBox>("Check1")->click();
    EXPECT_EQ(control<QCheckBox>("Check1")->checkState(), Qt::Checked) << "by hand: greyed goes to ticked";
    control<QCheckBox>("Check1")->click();
    EXPECT_FALSE(shown(control<QWidget>("Label9")));
    EXPECT_TRUE(shown(control<QWidget>("Command7")));

    control<QLineEdit>("Text6")->setText(QStringLiteral("typed by hand"));
    dialogs_.answerNext(QStringLiteral("/home/op/PLOGR2.PDB"));
    control<QPushButton>("Command8")->click();
    closeWindow();
    EXPECT_EQ(settingsLines()[5], "[PalmDatabaseFile]=/home/op/PLOGR2.PDB");
}

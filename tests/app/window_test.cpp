#include "app/download_tab.h"
#include "app/settings_tab.h"
#include "chart/log_chart_view.h"
#include "window_fixture.h"

#include <set>

class WindowTest : public WindowFixture {
protected:
    SettingsTab &link() const { return *window_->findChild<SettingsTab *>(); }
    // Whether `label`'s whole text fits the room it was given, wrapped as it wraps.
    static bool showsAll(const QLabel *label)
    {
        const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
        const QRect needed = label->fontMetrics().boundingRect(
            QRect(0, 0, label->contentsRect().width(), 100000), flags, label->text());
        return needed.width() <= label->contentsRect().width() &&
               needed.height() <= label->contentsRect().height();
    }
};

TEST_F(WindowTest, opensOnDisplayMeterWithTheLoadedDefaultsNothingRunningAndBoxesThatSayWhatTheyAre)
{
    openWindow();
    // The port, speed and address loaded, and the port not opened at start, are the status bar test's first step.
    EXPECT_EQ(control<QTabWidget>("SSTab1")->currentIndex(), 3);
    for (const char *option : {"Option2(0)", "Option1(6)", "Option3(1)", "Option5(0)"})
        EXPECT_TRUE(control<QAbstractButton>(option)->isChecked()) << option;
    EXPECT_EQ(control<QLineEdit>("Text5(0)")->text(), " ") << "the first phone entry is chosen";
    for (int n = 1; n <= 3; ++n)
        EXPECT_FALSE(control<QTimer>(QStringLiteral("Timer%1").arg(n))->isActive()) << n;
    for (const char *hidden : {"Command5", "Label9", "SortList", "Command6", "Frame12", "Frame15",
                               "Text4(4)", "Label10"})
        EXPECT_FALSE(shown(hidden)) << hidden;
    EXPECT_TRUE(shown("Command7") && shown("Frame11"));

    // The boxes say what they are, and the meter's do not invite typing.
    EXPECT_TRUE(control("Text3(8)")->toolTip().contains("free space in the meter's log"));
    EXPECT_EQ(control("Label3(8)")->toolTip(), control("Text3(8)")->toolTip());
    for (int i = 0; i < 10; ++i) {
        auto *box = control<QLineEdit>(QStringLiteral("Text3(%1)").arg(i));
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->palette().color(QPalette::Base), box->palette().color(QPalette::Window)) << i;
    }
    for (const auto &[label, box] :
         {std::pair{"PhoneLabel", "Text5(0)"}, std::pair{"DescriptionLabel", "Text5(1)"}}) {
        EXPECT_EQ(control<QLabel>(label)->buddy(), control(box));
        EXPECT_FALSE(control<QLabel>(label)->text().isEmpty());
    }
}

TEST_F(WindowTest, aSlaveIdOutOfRangeRefusesADownloadAndIsKeptAndTheBoxKeepsTheLastGoodOne)
{
    writeSettings({{3, "[CommSlaveID]=300"}});
    openWindow();
    auto *box = control<QLineEdit>("Text1");
    EXPECT_TRUE(box->property("invalid").toBool());
    click("Command2");
    click("Command7");
    EXPECT_TRUE(status().startsWith("Slave ID out of range (0 to 255)"));
    EXPECT_TRUE(port_.sends().empty());
    closeWindow();
    EXPECT_EQ(settingsLines()[3], "[CommSlaveID]=300");

    openWindow();
    box = control<QLineEdit>("Text1");
    const std::pair<const char *, int> rows[] = {{"12ab", 12}, {"255", 255}, {"256", -1}, {" -7", -1}, {"5", 5}};
    int lastGood = link().slaveId();
    for (const auto &[text, id] : rows) {
        type("Text1", QLatin1String(text));
        lastGood = id >= 0 ? id : lastGood;
        EXPECT_EQ(link().slaveId(), lastGood) << text;
        EXPECT_EQ(box->property("invalid").toBool(), id < 0) << text;
    }
}

TEST_F(WindowTest, closingTheWindowSavesOnceAndExitSavesOnceWithoutTheClosePath)
{
    for (bool byMenu : {false, true}) {
        openWindow();
        click(byMenu ? "Option2(3)" : "Option2(1)");
        if (byMenu)
            window_->findChild<QAction *>(QStringLiteral("File_mnu"))->trigger();
        else
            window_->close();
        EXPECT_EQ(exits_, byMenu ? 1 : 0);
        EXPECT_EQ(settingsLines()[0], byMenu ? "[Commport]=4" : "[Commport]=2");
        writeFile(settingsPath(), "sentinel\r\n");
        window_->close();
        EXPECT_EQ(readFile(settingsPath()), "sentinel\r\n") << "saved once, by menu " << byMenu;
    }
}

TEST_F(WindowTest, whatTheUserChoseIsSavedByteForByte)
{
    openWindow();
    for (const char *option : {"Option2(2)", "Option1(3)", "Option3(0)", "Option5(2)"})
        click(option);
    type("Text1", QStringLiteral("017"));
    dialogs_.answerNext(QStringLiteral("/data/meters/north.csv"));
    click("Command3");
    EXPECT_EQ(window_->downloadTab().outputFile(), "/data/meters/north.csv") << "this run: the full path";
    control<QComboBox>("Combo1")->setCurrentIndex(7);
    control<QComboBox>("Combo2")->setCurrentIndex(-1);
    window_->phoneList().setCurrentCell(5, PhoneList::kPhoneCol);
    control<QLineEdit>("Text5(0)")->setText(QStringLiteral("555-0199"));
    closeWindow();
    const QStringList lines = settingsLines();
    ASSERT_EQ(lines.size(), kSettingsLineCount);
    EXPECT_EQ(lines.mid(0, 5), QStringList({"[Commport]=3", "[CommBaud]=9600", "[CommHandshaking]=none",
                                            "[CommSlaveID]=017", "[DownloadSaveFile]=/data/meters/north.csv"}));
    EXPECT_EQ(lines[8 + 3 * 4 + 1], "[ItemPhone#]=555-0199");
    EXPECT_EQ(lines.mid(38), QStringList({"[MeterType]=2", "[FlowUnits]= 7", "[FlowFormat]= 1",
                                          "[VelocityUnits]= 1", "[TotalUnits]=-1"}));
    openWindow(); // what ostrand-link.ini keeps across a restart is the network choice test's
    EXPECT_EQ(window_->downloadTab().outputFile(), "/data/meters/north.csv") << "after a restart";
    dialogs_.answerNext(std::nullopt);
    click("Command3");
    EXPECT_EQ(dialogs_.questions().back().proposedName, "/data/meters/north.csv");
}

TEST_F(WindowTest, palmModeFromTheFileShowsItsControlsAndIsWrittenBack)
{
    for (const char *state : {"1", "2"}) {
        const QStringList palmLines{QStringLiteral("[USEPalmDatabase]=") + state, "[PalmFileSep]=2"};
        writeSettings({{6, palmLines[0]}, {7, palmLines[1]}});
        openWindow();
        EXPECT_TRUE(shown("Label9") && shown("SortList") && shown("Command6") && !shown("Command7"));
        EXPECT_EQ(label("Label9"), "Files not separated");
        closeWindow();
        EXPECT_EQ(settingsLines().mid(6, 2), palmLines) << state;
    }
    openWindow();
    click("Check1");
    EXPECT_EQ(control<QCheckBox>("Check1")->checkState(), Qt::Checked) << "by hand: greyed goes to ticked";
    click("Check1");
    EXPECT_TRUE(!shown("Label9") && shown("Command7"));
}

TEST_F(WindowTest, everyCaptionedButtonHasAKeyOfItsOwnOnItsTabTabFollowsTheWorkAndHintsAndBoxesShowWhole)
{
    openWindow();
    showTab(0);
    QStringList visited{"Command2"};
    for (QWidget *w = control("Command2"); visited.size() < 7;) {
        w = w->nextInFocusChain();
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window_.get()))
            visited << w->objectName();
    }
    EXPECT_EQ(visited, QStringList({"Command2", "Command7", "Check2", "Check1", "Text2", "Command3", "Text3(8)"}));
    auto *tabs = control<QTabWidget>("SSTab1");
    for (int tab = 0; tab < tabs->count(); ++tab) {
        std::set<QString> keys;
        for (auto *button : tabs->widget(tab)->findChildren<QAbstractButton *>())
            EXPECT_TRUE(button->text().isEmpty() || (!button->shortcut().isEmpty() &&
                                                     keys.insert(button->shortcut().toString()).second))
                << button->objectName().toStdString();
    }

    // The chart's hint and the slave ID are shown whole.
    window_->show();
    showTab(1);
    click("ShowChartButton");
    QCoreApplication::processEvents();
    EXPECT_TRUE(showsAll(control<QLabel>("chartHint"))) << control<QLabel>("chartHint")->contentsRect().width();

    showTab(2);
    QCoreApplication::processEvents();
    auto *slaveId = control<QLineEdit>("Text1");
    QStyleOptionFrame option;
    option.initFrom(slaveId);
    option.lineWidth = slaveId->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, slaveId);
    const int room = slaveId->style()->subElementRect(QStyle::SE_LineEditContents, &option, slaveId).width() - 4;
    EXPECT_GE(room, slaveId->fontMetrics().horizontalAdvance("255")) << "three digits fit";
}

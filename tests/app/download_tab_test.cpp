#include "app/download_tab.h"
#include "chart/log_chart_view.h"
#include "monitor/frame_monitor.h"
#include "table/results_grid.h"
#include "window_fixture.h"

#include <QChartView>

namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void open(const QUrl &url) { opened = url; }
    QUrl opened;
};

class DownloadTabTest : public WindowFixture {
protected:
    void SetUp() override
    {
        meter.setLabel(1, "Flow");
        meter.setLabel(2, "Level");
        meter.writeLog(8, 0x80, 0, flowLevelLog(8, QTime(9, 0)));
        meter.setPointers(8, 0x80, 0, 8, 0x80, 0x80, 16, 4096);
        openWindow();
    }
    QString text(const char *name) const { return control<QLineEdit>(name)->text(); }

    FakeMeter meter{port_};
};

} // namespace

TEST_F(DownloadTabTest, downloadDataFillsTheTabTheGridAndTheFileItNamesThenConfirmsAndStartsNothingMoreMeanwhile)
{
    pump_.runAfter(2, [&] {
        EXPECT_EQ(control<QAbstractButton>("Command2")->text(), "&Stop");
        EXPECT_FALSE(control("Command7")->isEnabled() || control("Command3")->isEnabled());
        window_->downloadTab().onSinceLastTimeClicked();
        window_->downloadTab().onDownloadClicked();
    });
    click("Command2");
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_EQ(QStringList({text("Text3(0)"), text("Text3(1)"), text("Text3(9)"), text("Text3(8)")}),
              QStringList({"Flow", "Level", "16", "4096"}));
    EXPECT_EQ(meter.confirmations, 1) << "only the first download ran";
    // The window's monitor saw it: after the confirmation, the marker and the pointers read back (request and reply each).
    const FrameMonitor &frames = window_->monitor();
    EXPECT_EQ(frames.cellText(frames.rowCount() - 5, FrameMonitor::ReadingColumn), "download stored: acknowledged");
    const QString dataIn = "Data in " + QDir::toNativeSeparators(inDir("Logdata.csv"));
    EXPECT_EQ(label("DataFile"), dataIn);
    UrlCatcher files;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &files, "open");
    click("ShowInFolder");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(files.opened, QUrl::fromLocalFile(dir()));
    QList<QUrl> asked; // no program to show folders: the path can be copied instead
    window_->downloadTab().setFolderOpener([&](const QUrl &url) { return asked << url, false; });
    click("ShowInFolder");
    EXPECT_EQ(asked, QList<QUrl>({QUrl::fromLocalFile(dir())}));
    EXPECT_TRUE(message().startsWith("No program is set up here to show folders"));
    ASSERT_TRUE(shown("CopyPath"));
    click("CopyPath");
    EXPECT_EQ(QApplication::clipboard()->text(), QDir::toNativeSeparators(inDir("Logdata.csv")));
    // A name too long for the tab is cut in the middle on screen, never in the tooltip.
    const QString folder = inDir(QString(120, u'x') + "/" + QString(120, u'y'));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString longName = QDir(folder).filePath("Logdata.csv");
    control<QLineEdit>("Text2")->setText(longName);
    EXPECT_FALSE(shown("DataFile") || shown("ShowInFolder") || shown("CopyPath")) << "the old file named after a change";
    click("Command2");
    EXPECT_EQ(control("DataFile")->toolTip(), "Data in " + QDir::toNativeSeparators(longName));
    EXPECT_LT(control("DataFile")->minimumSizeHint().width(), 200) << "the path does not widen the window";
    type("Text1", "300");
    click("Command2");
    EXPECT_FALSE(shown("ShowInFolder")) << "a refused download wrote no file to show";
    for (std::size_t i = 0; i < port_.sends().size() && port_.sends()[i].bytes[1] != 0x62; ++i)
        EXPECT_NE(port_.sends()[i].bytes[1], 0x61) << "no since-last-time pointer read to begin with";

    auto *chart = control<LogChartView>("LogChart");
    EXPECT_FALSE(chart->hasData()) << "the chart reads the grid only when shown";
    click("ShowChartButton");
    EXPECT_TRUE(chart->hasData());
}

// The numbers a kept copy takes are the table's (tests/table) and SinceLastAppend's end to end.
TEST_F(DownloadTabTest, downloadingOntoAFileThatHoldsDataKeepsItAndSaysSoAndAFailureAfterItLeavesNoOldValues)
{
    const QString output = inDir("Logdata.csv");
    writeFile(output, "earlier\r\n");
    click("Command2");
    EXPECT_EQ(message(), "the previous file was kept as Logdata.csv.1");
    EXPECT_EQ(readFile(output + ".1"), "earlier\r\n");
    EXPECT_EQ(label("DataFile"), "Data in " + QDir::toNativeSeparators(output) +
                                     " (the previous file was kept as Logdata.csv.1)");

    // A failure after it leaves no old values; the port chosen while open reaching the next download,
    // and the last error, are the status bar test's, the monitor's row the monitor table's.
    port_.failOpenWith(QStringLiteral("adapter gone"));
    click("Option2(1)"); // the next download opens COM2
    click("Command2");
    EXPECT_EQ(QStringList({text("Text3(0)"), text("Text3(9)")}), QStringList({"", ""}));
}

TEST_F(DownloadTabTest, anOutputThatCannotBeWrittenIsRefusedBeforeTheMeterOrTheFileIsRead)
{
    control<QLineEdit>("Text2")->setText(QStringLiteral("no/such/folder/x.csv"));
    for (const char *tick : {"", "Check1"}) {
        if (*tick)
            click(tick);
        click("Command2");
        EXPECT_EQ(status(), "Error putting into file!!") << "Palm mode: " << *tick;
        EXPECT_TRUE(message().contains("does not exist"));
    }
    EXPECT_TRUE(port_.sends().empty());
}

namespace {

// A log that went on after a download of its first six instants: two more, stamped
// as the clock's hour repeats (set back at the end of summer time).
class SinceLastTimeTest : public DownloadTabTest {
protected:
    void SetUp() override
    {
        DownloadTabTest::SetUp();
        meter.writeLog(8, 0x80, 0, flowLevelLog(8, QTime(9, 0), 10, 2.5f, [](int i) { return i < 6 ? i : i - 2; }));
        // Every row once: the whole log is the reference for what the file should become.
        control<QLineEdit>("Text2")->setText("all.csv");
        click("Command2");
        all = splitLines(readFile(inDir("all.csv")));
        control<QLineEdit>("Text2")->setText("Logdata.csv");
        meter.setPointers(8, 0x80, 0, 8, 0x80, 0x60, 12, 4096);
        click("Command2");
        sixRows = readFile(output());
        meter.setPointers(8, 0x80, 0, 8, 0x80, 0x80, 16, 4096);
        meter.setLastDownloadPointer(8, 0x80, 0x58); // the last record of the sixth instant
    }
    QString output() const { return inDir("Logdata.csv"); }

    QStringList all;
    QByteArray sixRows;
};

} // namespace

TEST_F(SinceLastTimeTest, aFileThatHoldsDataIsAppendedToReplacedOrLeftAndOnlyAWrittenOneIsConfirmed)
{
    ASSERT_EQ(all.size(), 9);
    ASSERT_EQ(splitLines(sixRows), all.mid(0, 7));
    ASSERT_EQ(all[7].left(22), all[5].left(22)) << "an hour the clock repeats";
    const struct {
        const char *what;
        std::optional<int> answer;
        QStringList file;
        int confirmations;
        QString status;
    } rows[] = {
        {"append", 0, all, 1, "Finished. Data in File"},
        {"replace", 1, all.mid(0, 1) + all.mid(7), 1, "Finished. Data in File"},
        {"cancel", std::nullopt, all.mid(0, 7), 0, "Cancelled: nothing written"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        writeFile(output(), sixRows);
        meter.setLastDownloadPointer(8, 0x80, 0x58);
        const int confirmedBefore = meter.confirmations;
        dialogs_.answerNextAction(row.answer);
        click("Command7");
        EXPECT_EQ(splitLines(readFile(output())), row.file);
        EXPECT_EQ(meter.confirmations - confirmedBefore, row.confirmations);
        EXPECT_EQ(status(), row.status);
        EXPECT_EQ(shown("DataFile"), row.confirmations == 1);
        EXPECT_EQ(dialogs_.questions().back().actions,
                  QStringList({"Append the 2 new rows to Logdata.csv", "Replace Logdata.csv"}));
    }
    EXPECT_EQ(readFile(output() + ".1"), sixRows) << "replacing kept the file; appending needed no copy";
    EXPECT_FALSE(QFile::exists(output() + ".2"));

    // Nothing new: nothing asked (an unexpected question fails the test), the last file not claimed.
    click("Command2");
    ASSERT_TRUE(shown("DataFile"));
    meter.setLastDownloadPointer(8, 0x80, 0x80);
    click("Command7");
    EXPECT_EQ(status(), "0 Records Available");
    EXPECT_FALSE(shown("DataFile") || shown("ShowInFolder"));

    // Other headings: the rows cannot go under them, so only Replace is offered.
    meter.setLabel(2, "Velocity");
    meter.setLastDownloadPointer(8, 0x80, 0x58);
    const QByteArray before = readFile(output());
    dialogs_.answerNextAction(std::nullopt);
    click("Command7");
    EXPECT_EQ(dialogs_.questions().back().actions, QStringList({"Replace Logdata.csv"}));
    EXPECT_EQ(readFile(output()), before);
}

TEST_F(SinceLastTimeTest, whatTheMeterLogsWhileTheQuestionIsOpenAndBeforeTheConfirmationGoesIntoTheFile)
{
    meter.writeLog(8, 0x80, 0x80, flowLevelLog(2, QTime(11, 0), 30, 3.5f));
    writeFile(output(), sixRows);
    dialogs_.whileAsked = [&] { meter.setPointers(8, 0x80, 0, 8, 0x80, 0x90, 18, 4096); };
    meter.onRequest = [&](const QByteArray &q) {
        if (q[1] == 0x62)
            meter.setPointers(8, 0x80, 0, 8, 0x80, 0xA0, 20, 4096);
    };
    dialogs_.answerNextAction(0);
    click("Command7");
    dialogs_.whileAsked = nullptr;
    meter.onRequest = nullptr;
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_EQ(dialogs_.questions().back().actions.first(), "Append the 2 new rows to Logdata.csv")
        << "asked before the meter logged more";
    EXPECT_EQ(window_->results().text(5, 2), "31") << "the window's grid holds the last instant too";

    control<QLineEdit>("Text2")->setText("whole.csv");
    click("Command2");
    EXPECT_EQ(splitLines(readFile(output())), splitLines(readFile(inDir("whole.csv"))));
    EXPECT_EQ(splitLines(readFile(output())).size(), 11);
}

TEST_F(DownloadTabTest, theChartLeftOpenOnTheViewTabShowsASinceLastTimeDownloadStartedFromTheDownloadTabWhereTheFocusReturns)
{
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    const auto chartTitle = [&] { return control<QChartView>("chartView")->chart()->title().toStdString(); };
    // Each download is started by a key on its button, where the focus returns.
    const auto press = [&](const char *button) {
        showTab(0);
        control(button)->setFocus();
        QTest::keyClick(control(button), Qt::Key_Space);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), button);
    };
    press("Command2");
    showTab(1);
    click("ShowChartButton");
    EXPECT_EQ(chartTitle(), "Flow, Level · 12/1/2026 9:00 AM to 12/1/2026 10:45 AM");
    meter.setLastDownloadPointer(8, 0x80, 0x38); // the records from 10:00 on are new
    dialogs_.answerNextAction(1); // replace the file: the grid and chart hold this download alone
    press("Command7");
    // The window's grid took every row though the download before had more.
    EXPECT_EQ(window_->results().rowTexts(2).mid(0, 4), QStringList({"1", "12/1/2026 10:00:00 AM", "14", "2.5"}));
    EXPECT_EQ(window_->results().lastUsedRow(), 5);
    EXPECT_EQ(control<QTableView>("MSHFlexGrid1")->model()->rowCount(), 4) << "the filled rows, not the grid's 65,535";
    showTab(1);
    EXPECT_EQ(chartTitle(), "Flow, Level · 12/1/2026 10:00 AM to 12/1/2026 10:45 AM");
}

#include "download_tab_test.moc"

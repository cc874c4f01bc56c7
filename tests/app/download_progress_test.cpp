#include "chart/log_chart_view.h"
#include "table/results_grid.h"
#include "window_fixture.h"

#include <QChartView>

namespace {

class DownloadProgressTest : public WindowFixture {
protected:
    void SetUp() override
    {
        meter.setLabel(1, "Flow");
        meter.setLabel(2, "Level");
        meter.writeLog(8, 0x80, 0, flowLevelLog(48, QTime(0, 0))); // three blocks of 256 bytes
        meter.setPointers(8, 0x80, 0, 8, 0x83, 0, 96, 4000);
        openWindow();
    }
    QString barText() const { return control<QProgressBar>("ProgressBar1")->text(); }
    QString reason() const
    {
        auto *label = control<QLabel>("DownloadReason");
        return label->isHidden() ? QString() : label->text();
    }
    // Runs `button`, noting every text the bar shows on the way.
    QStringList clickNotingBar(const char *button)
    {
        QStringList seen;
        pump_.onEachYield([&] {
            if (seen.isEmpty() || seen.back() != barText())
                seen << barText();
        });
        click(button);
        pump_.clearHooks();
        return seen;
    }
    static int linear(int bank, int page, int offset) { return bank * 65536 + page * 256 + offset; }

    FakeMeter meter{port_};
};

// Whether `expected` appear in `seen` in their order, others between them.
::testing::AssertionResult inOrder(const QStringList &seen, const QStringList &expected)
{
    qsizetype at = 0;
    for (const QString &text : expected) {
        at = seen.indexOf(text, at);
        if (at < 0)
            return ::testing::AssertionFailure()
                   << "no \"" << text.toStdString() << "\" in order in:\n" << seen.join('\n').toStdString();
        ++at;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// The last row's rows read are marked incomplete on the grid and the chart until a good download.
TEST_F(DownloadProgressTest, theBarCountsASilenceNamesTheReadsBeforeTheBlocksAndEndsWithTheResult)
{
    window_->show();
    const auto chartTitle = [&] { return control<QChartView>("chartView")->chart()->title(); };
    showTab(1);
    click("ShowChartButton");
    showTab(0);
    const QString wait = QStringLiteral("Waiting for the meter: no reply for %1 s (gives up at %2 s)");
    const struct { const char *what; std::function<void()> fault; QStringList seen; } rows[] = { // seen in order
        {"pointers unanswered", [&] { meter.silentFunctions = {0x03}; },
         {"Reading the log's pointers", wait.arg(1).arg(30), wait.arg(12).arg(30), wait.arg(30).arg(30)}},
        {"channel 3's label unanswered", [&] { meter.silentAddresses = {linear(0x18, 0x83, 0)}; },
         {"Reading channel labels 2 of 8", "Reading channel labels 3 of 8", wait.arg(4).arg(5),
          "Reading channel labels 4 of 8"}},
        // A block's five tries are one wait: it is the download's last.
        {"the second block unanswered", [&] { meter.silentAddresses = {linear(8, 0x81, 0)}; },
         {"Reading channel labels 8 of 8", "0%", wait.arg(4).arg(25), wait.arg(12).arg(25), wait.arg(25).arg(25)}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        meter.silentFunctions.clear();
        meter.silentAddresses.clear();
        row.fault();
        const QStringList seen = clickNotingBar("Command2");
        ASSERT_FALSE(seen.isEmpty());
        EXPECT_EQ(seen.front(), "Reading the log's pointers") << "the first read names itself, not 0%";
        EXPECT_TRUE(inOrder(seen, row.seen));
        EXPECT_EQ(status(), "Error in Downloading!!");
        EXPECT_EQ(barText(), "Error in Downloading!!");
        EXPECT_TRUE(reason().startsWith("No answer from address 1 on COM1") &&
                    reason().contains("check the cable, the baud rate and the address"))
            << reason().toStdString();
    }
    EXPECT_EQ(window_->results().lastUsedRow(), 17) << "the first block read";
    showTab(1);
    EXPECT_TRUE(shown("IncompleteNote") && label("IncompleteNote").startsWith("incomplete: not written"));
    EXPECT_TRUE(chartTitle().endsWith(" · incomplete: not written")) << chartTitle().toStdString();
    showTab(0);
    meter.silentAddresses.clear();
    click("Command2");
    ASSERT_EQ(status(), "Finished. Data in File");
    showTab(1);
    EXPECT_FALSE(shown("IncompleteNote"));
    EXPECT_FALSE(chartTitle().contains("incomplete")) << chartTitle().toStdString();
}

TEST_F(DownloadProgressTest, aWaitThatEndsInAReplyGivesTheBarBackAndAGoodDownloadEndsAtAHundred)
{
    meter.silentAddresses = {linear(8, 0x81, 0)};
    pump_.runAfter(2500, [&] { meter.silentAddresses.clear(); }); // answers a resend of the first try
    const QStringList seen = clickNotingBar("Command2");
    const QString lastWait = "Waiting for the meter: no reply for 2 s (gives up at 25 s)";
    EXPECT_TRUE(inOrder(seen, {"0%", "Waiting for the meter: no reply for 1 s (gives up at 25 s)", lastWait}));
    const QStringList after = seen.mid(seen.indexOf(lastWait) + 1);
    ASSERT_FALSE(after.isEmpty());
    for (const QString &text : after)
        EXPECT_TRUE(text.endsWith('%') || text.contains("% · ")) << text.toStdString();
    EXPECT_EQ(status(), "Finished. Data in File");
    EXPECT_EQ(barText(), "100%");
    EXPECT_EQ(reason(), "");
}

TEST_F(DownloadProgressTest, stoppedCancelledAndTheOpenQuestionEachSayWhatTheRowsAre)
{
    meter.silentAddresses = {linear(8, 0x82, 0)};
    pump_.runAfter(8000, [&] { click("Command2"); });
    click("Command2");
    EXPECT_EQ(status(), "Stopped");
    EXPECT_EQ(barText(), "Stopped");
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->value(), 32) << "the bar stays where the download got to";

    // Since Last Time onto a file holding data: the question is open over the rows read.
    meter.silentAddresses.clear();
    writeFile(inDir("Logdata.csv"), "Date / Time,Flow,Level\r\n");
    meter.setLastDownloadPointer(8, 0x80, 0xF8); // the rows of the last two blocks are new
    QString whileAsked;
    dialogs_.whileAsked = [&] { whileAsked = barText(); };
    dialogs_.answerNextAction(std::nullopt);
    click("Command7");
    EXPECT_EQ(whileAsked, "32 rows read, not written yet");
    EXPECT_EQ(status(), "Cancelled: nothing written");
    EXPECT_EQ(barText(), "Cancelled: nothing written");
    EXPECT_TRUE(reason().startsWith("the meter was not told of this download")) << reason().toStdString();
}

TEST_F(DownloadProgressTest, theReasonStandsWholeUnderTheResultLineUntilTheNextAttemptBegins)
{
    window_->show();
    showTab(0);
    const int width = window_->width();
    const QString refusal = QStringLiteral("Cannot connect to tcp://10.20.0.7:4001: connection refused; check the "
                                           "address and that the device server is on and listening");
    const QString folder = inDir(QString(90, u'x') + "/" + QString(90, u'y'));
    const struct { const char *what; std::function<void()> fault; const char *status; QStringList reasonHolds; } rows[] = {
        {"a refused connection", [&] { port_.failOpenWith(refusal); }, "Error in Downloading!!", {refusal}},
        {"a file error",
         [&] {
             QDir().mkpath(folder);
             control<QLineEdit>("Text2")->setText(QDir(folder).filePath("Logdata.csv"));
             // The folder goes while the log is read: only the writing finds out.
             meter.onRequest = [&](const QByteArray &q) {
                 if (q[1] == 0x60)
                     QDir(inDir(QString(90, u'x'))).removeRecursively();
             };
         },
         "Error putting into file!!",
         {QDir::toNativeSeparators(QDir(folder).filePath("Logdata.csv")), "Check that the folder exists"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        row.fault();
        click("Command2");
        meter.onRequest = nullptr;
        EXPECT_EQ(status(), row.status);
        EXPECT_EQ(barText(), row.status);
        for (const QString &part : row.reasonHolds)
            EXPECT_TRUE(reason().contains(part)) << reason().toStdString();
        EXPECT_FALSE(message().isEmpty()) << "the status bar keeps its short form";
        EXPECT_TRUE(control("LastError")->isHidden()) << "the message has the bar's free room";
        QCoreApplication::processEvents();
        EXPECT_EQ(window_->width(), width) << "a long reason wraps instead";
        auto *reasonLabel = control<QLabel>("DownloadReason");
        EXPECT_GE(reasonLabel->height(), reasonLabel->heightForWidth(reasonLabel->width())) << "whole, not cut off";

        // The next attempt, on a meter that does not answer: the old reason goes at its start.
        port_.allowOpen();
        control<QLineEdit>("Text2")->setText("Logdata.csv");
        meter.silentFunctions = {0x03};
        pump_.runAfter(1500, [&] {
            EXPECT_EQ(reason(), "");
            EXPECT_EQ(message(), "");
            EXPECT_EQ(label("LastError"), "");
            EXPECT_TRUE(shown("LastError"));
        });
        click("Command2");
        meter.silentFunctions.clear();
    }
}

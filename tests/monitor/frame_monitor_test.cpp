#include "link/modbus_requests.h"
#include "link_fixture.h"
#include "fake_file_dialogs.h"
#include "monitor/frame_monitor.h"
#include "monitor/monitor_view.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <functional>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

const QByteArray kHoldingReply = appendCrc(QByteArray::fromHex("0103100880000008BF00F800100FF0001001F4"));

QStringList column(const FrameMonitor &monitor, int column)
{
    QStringList cells;
    for (int row = 0; row < monitor.rowCount(); ++row)
        cells << monitor.cellText(row, column);
    return cells;
}

// The monitor attached to a real link on the fake port, as the window attaches it.
class MonitoredLink : public LinkFixture {
protected:
    MonitoredLink() { link.setObserver(&monitor); }

    FrameMonitor monitor{clock};
    QAbstractItemModelTester modelCheck{&monitor, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// Each row: how the meter answers one exchange, and the counters and readings it leaves.
TEST_F(MonitoredLink, eachExchangeIsCountedAndReadRowByRow)
{
    QByteArray badCrc = appendCrc(QByteArray::fromHex("01630000") + QByteArray(20, '\0'));
    badCrc[25] = char(badCrc[25] ^ 0x40);
    const auto readRegisters = [&] { return link.readHoldingRegisters(1, 76, 8).ok(); };
    const auto confirm = [&] { return link.confirmDownload(1).ok(); };
    const struct {
        const char *what;
        std::function<void()> meter;
        std::function<bool()> exchange;
        MonitorCounters counters; // requests, replies, resends, time-outs, CRC errors, port failures
        QStringList directions, readings;
    } rows[] = {
        {"a late reply", [&] {
             port.setResponder([first = true](const QByteArray &, FakeSerialPort &p) mutable {
                 if (std::exchange(first, false))
                     p.deliver(kHoldingReply, 1500);
             });
         }, readRegisters, {2, 1, 1, 0, 0, 0, 0}, {"sent", "resent", "received"},
         {"read holding registers 76-83", "read holding registers 76-83", "16 bytes: registers 76-83"}},
        {"a silent meter", [] {}, [&] { return link.readDisplayBlock(1).ok(); }, {1, 0, 0, 1, 0, 0, 0},
         {"sent", "failed"}, {"display block", "time-out: no reply to display block"}},
        {"a wrong CRC", [&] { answerEverySendWith(badCrc); }, [&] { return link.readDisplayBlock(1).ok(); },
         {1, 1, 0, 0, 1, 0, 0}, {"sent", "received"}, {"display block", "reply CRC wrong"}},
        // The link ends a confirmation on its first bytes; what came by then is its reply.
        {"a confirmation answered", [&] { answerEverySendWith(appendCrc(QByteArray::fromHex("0162")), 5); }, confirm,
         {1, 1, 0, 0, 0, 0, 0}, {"sent", "received"}, {"download stored", "download stored: acknowledged"}},
        {"a confirmation answered two bytes and a pause", [&] {
             port.setResponder([](const QByteArray &, FakeSerialPort &p) {
                 p.deliver(QByteArray::fromHex("0162"), 5);
                 p.deliver(QByteArray::fromHex("81c9"), 300);
             });
         }, confirm, {1, 1, 0, 0, 0, 0, 0}, {"sent", "received"}, {"download stored", "download stored: acknowledged by 2 bytes"}},
        {"a port that will not open", [&] { port.close(); port.failOpenWith(QStringLiteral("no such device")); },
         [&] { return link.readDisplayBlock(1).ok(); }, {0, 0, 0, 0, 0, 1, 0}, {"failed"}, {"port would not open"}},
        {"a pause", [&] { port.allowOpen(), answerEverySendWith(kHoldingReply), monitor.setPaused(true); }, readRegisters,
         {}, {}, {}},
    };
    for (const auto &row : rows) {
        monitor.clear();
        row.meter();
        row.exchange();
        EXPECT_EQ(monitor.counters(), row.counters) << row.what << ": " << countersText(monitor.counters()).toStdString();
        EXPECT_EQ(column(monitor, FrameMonitor::DirectionColumn), row.directions) << row.what;
        EXPECT_EQ(column(monitor, FrameMonitor::ReadingColumn), row.readings) << row.what;
    }
    monitor.setPaused(false);
    monitor.replyRead(kHoldingReply, true);
    EXPECT_EQ(column(monitor, FrameMonitor::ReadingColumn), QStringList({"16 bytes: registers 76-83"}))
        << "after a resume a reply still pairs with the request sent during the pause";
}

TEST_F(MonitoredLink, aFailuresRowReadsInAFewWordsAndItsTipInTheLinksOwnWords)
{
    ASSERT_FALSE(link.readDisplayBlock(9).ok());
    const QModelIndex failed = monitor.index(monitor.rowCount() - 1, FrameMonitor::ReadingColumn);
    EXPECT_EQ(failed.data().toString(), "time-out: no reply to display block");
    EXPECT_TRUE(failed.data(Qt::ToolTipRole).toString().startsWith("No answer from address 9 on COM1 at 38400 baud"));
}

TEST_F(MonitoredLink, theTextForASupportRequestHasTheCountersAndEachFrameAndIsSavedWhole)
{
    answerEverySendWith(kHoldingReply);
    ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8).ok());
    const QString text = monitor.asText();
    EXPECT_TRUE(text.contains(countersText(monitor.counters())) &&
                text.contains("sent     read holding registers 76-83  [01 03 00 4C 00 08 85 DB]") &&
                text.contains("received 16 bytes: registers 76-83  [01 03 10 08 80"))
        << text.toStdString();
    QTemporaryDir dir;
    QFile file(dir.filePath("monitor.txt"));
    QString error;
    EXPECT_TRUE(monitor.saveAsText(file.fileName()) && file.open(QIODevice::ReadOnly) &&
                QString::fromUtf8(file.readAll()) == text);
    EXPECT_FALSE(monitor.saveAsText(dir.filePath("no-such-folder/monitor.txt"), &error) || error.isEmpty());
}

TEST_F(MonitoredLink, rowsAreStampedToTheMillisecondAndBeyondTheCapTheOldestGoAndTheTextSaysHowMany)
{
    clock.setTimeOfDay(86399.9996); // rounds up to midnight, not to a 24th hour
    monitor.setRowCap(3);
    for (int block = 0; block < 5; ++block)
        monitor.requestSent(request::readLogBlock(1, 8, 0x80 + block, 0, 128), false);
    EXPECT_EQ(column(monitor, FrameMonitor::TimeColumn), QStringList(3, "00:00:00.000"));
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "log block 08 82 00, 128 words");
    EXPECT_EQ(monitor.counters().requests, 5) << "counters count what the cap dropped";
    EXPECT_TRUE(monitor.asText().contains("Frames: 3 (the 2 oldest dropped)"));
    monitor.setRowCap(1);

    monitor.replyRead(appendCrc(QByteArray::fromHex("01610885F8")).mid(3), true);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "end of a reply begun before the monitor was opened")
        << "a reply the link vouched for but whose start was missed is no CRC error";
    EXPECT_EQ(monitor.counters().crcErrors, 0);
}

// The page kept on a tab not shown while frames come, then opened, then read.
TEST_F(MonitoredLink, thePageFollowsTheNewestFrameFromWhenItIsOpenedUntilScrolledUpAndAgainOnceBackAtTheEnd)
{
    FakeFileDialogs dialogs;
    MonitorView view(monitor, dialogs);
    auto *table = view.findChild<QTableView *>("monitorTable");
    QScrollBar *bar = table->verticalScrollBar();
    const auto frames = [&](int count) {
        for (int i = 0; i < count; ++i)
            monitor.requestSent(request::readLogBlock(1, 8, 0x80, i % 256, 128), false);
        QApplication::processEvents();
    };
    const auto newestShown = [&] {
        return table->rowAt(table->viewport()->height() - 2) == monitor.rowCount() - 1;
    };
    frames(300);
    view.resize(500, 300);
    view.show();
    QApplication::processEvents();
    EXPECT_TRUE(newestShown()) << "opened after the frames came";
    frames(40);
    EXPECT_TRUE(newestShown());
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int readingAt = bar->value();
    frames(40);
    EXPECT_EQ(bar->value(), readingAt) << "scrolled up to read: left there";
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    frames(40);
    EXPECT_TRUE(newestShown()) << "back at the end";
}

} // namespace

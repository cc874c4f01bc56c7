#include "link/modbus_requests.h"
#include "link_fixture.h"
#include "monitor/frame_monitor.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <functional>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

const QByteArray kPointerRegisters = QByteArray::fromHex("0880000008BF00F800100FF0001001F4");

QByteArray holdingReply()
{
    return appendCrc(QByteArray::fromHex("010310") + kPointerRegisters);
}

// The monitor attached to a real link on the fake port, as the window attaches it.
class MonitoredLink : public LinkFixture {
protected:
    MonitoredLink() { link.setObserver(&monitor); }

    QStringList column(int column) const
    {
        QStringList cells;
        for (int row = 0; row < monitor.rowCount(); ++row)
            cells << monitor.cellText(row, column);
        return cells;
    }

    FrameMonitor monitor{clock};
    QAbstractItemModelTester modelCheck{&monitor,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal};
};

// Each row: how the meter answers one exchange, and the counters and readings it leaves.
TEST_F(MonitoredLink, eachExchangeIsCountedAndReadRowByRow)
{
    QByteArray badCrc = appendCrc(QByteArray::fromHex("01610885F8"));
    badCrc[6] = char(badCrc[6] ^ 0x40);
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
                     p.deliver(holdingReply(), 1500);
             });
         }, [&] { return link.readHoldingRegisters(1, 76, 8).ok(); }, {2, 1, 1, 0, 0, 0, 0},
         {"sent", "resent", "received"},
         {"read holding registers 76-83", "read holding registers 76-83", "16 bytes: registers 76-83"}},
        {"a silent meter", [] {}, [&] { return link.readDisplayBlock(1).ok(); }, {1, 0, 0, 1, 0, 0, 0},
         {"sent", "failed"}, {"display block", "time-out: no reply to display block"}},
        {"a wrong CRC", [&] { answerEverySendWith(badCrc); }, [&] { return link.readLastDownloadPointer(1).ok(); },
         {1, 1, 0, 0, 1, 0, 0}, {"sent", "received"}, {"last-download pointer", "reply CRC wrong"}},
        {"a port that will not open", [&] { port.close(); port.failOpenWith(QStringLiteral("no such device")); },
         [&] { return link.readDisplayBlock(1).ok(); }, {0, 0, 0, 0, 0, 1, 0}, {"failed"}, {"port would not open"}},
    };
    for (const auto &row : rows) {
        monitor.clear();
        row.meter();
        row.exchange();
        EXPECT_EQ(monitor.counters(), row.counters) << row.what << ": " << countersText(monitor.counters()).toStdString();
        EXPECT_EQ(column(FrameMonitor::DirectionColumn), row.directions) << row.what;
        EXPECT_EQ(column(FrameMonitor::ReadingColumn), row.readings) << row.what;
    }
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::HexColumn), "") << "nothing went out";
}

TEST_F(MonitoredLink, whilePausedNothingIsRecordedAndAfterResumeTheReplyStillPairsWithItsRequest)
{
    answerEverySendWith(holdingReply());
    monitor.setPaused(true);
    ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8).ok());
    EXPECT_EQ(monitor.rowCount(), 0);
    EXPECT_EQ(monitor.counters(), MonitorCounters());

    monitor.setPaused(false);
    monitor.replyRead(holdingReply(), true);
    EXPECT_EQ(column(FrameMonitor::ReadingColumn), QStringList({"16 bytes: registers 76-83"}));
}

TEST_F(MonitoredLink, theTextForASupportRequestHasTheCountersThenALineAFrame)
{
    answerEverySendWith(holdingReply());
    ASSERT_TRUE(link.readHoldingRegisters(1, 76, 8).ok());
    const QStringList lines = monitor.asText().split('\n');
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[1], "Requests 1 · Replies 1 · Resends 0 · Time-outs 0 · CRC errors 0");
    EXPECT_EQ(lines[2], "Frames: 2");
    EXPECT_TRUE(
        lines[4].endsWith("sent     read holding registers 76-83  [01 03 00 4C 00 08 85 DB]"))
        << lines[4].toStdString();
    EXPECT_TRUE(lines[5].contains("received 16 bytes: registers 76-83  [01 03 10 08 80"))
        << lines[5].toStdString();

    QTemporaryDir dir;
    const QString path = dir.filePath("monitor.txt");
    ASSERT_TRUE(monitor.saveAsText(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), monitor.asText());

    QString error;
    EXPECT_FALSE(monitor.saveAsText(dir.filePath("no-such-folder/monitor.txt"), &error));
    EXPECT_FALSE(error.isEmpty());
}

// Time stamps from a clock that stays where it is put.
class StoppedClock : public Clock {
public:
    double secondsSinceMidnight() const override { return seconds; }
    std::int64_t monotonicMs() const override { return 0; }
    double seconds = 0;
};

TEST(FrameMonitorRows, timeStampsReadAsHoursMinutesSecondsAndMilliseconds)
{
    StoppedClock clock;
    FrameMonitor monitor(clock);
    clock.seconds = 13 * 3600 + 5 * 60 + 9.25;
    monitor.requestSent(request::readDisplayBlock(1), false);
    clock.seconds = 86399.9996; // rounds up to midnight, not to a 24th hour
    monitor.requestSent(request::readDisplayBlock(1), false);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::TimeColumn), "13:05:09.250");
    EXPECT_EQ(monitor.cellText(1, FrameMonitor::TimeColumn), "00:00:00.000");
}

TEST(FrameMonitorRows, beyondTheCapTheOldestRowsGoAndTheTextSaysHowMany)
{
    StoppedClock clock;
    FrameMonitor monitor(clock);
    QAbstractItemModelTester check(&monitor, QAbstractItemModelTester::FailureReportingMode::Fatal);
    monitor.setRowCap(3);
    for (int block = 0; block < 5; ++block) {
        monitor.requestSent(request::readLogBlock(1, 8, 0x80 + block, 0, 128), false);
        EXPECT_EQ(monitor.rowCount(), std::min(block + 1, 3));
    }
    EXPECT_EQ(monitor.droppedRows(), 2);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "log block 08 82 00, 128 words");
    EXPECT_EQ(monitor.counters().requests, 5) << "counters count what the cap dropped";
    EXPECT_TRUE(monitor.asText().contains("Frames: 3 (the 2 oldest dropped)"));

    monitor.setRowCap(1);
    EXPECT_EQ(monitor.rowCount(), 1);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "log block 08 84 00, 128 words");

    monitor.replyRead(appendCrc(QByteArray::fromHex("01610885F8")).mid(3), true);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn), "end of a reply begun before the monitor was opened")
        << "a reply the link vouched for but whose start was missed is no CRC error";
    EXPECT_EQ(monitor.counters().crcErrors, 0);
}

} // namespace

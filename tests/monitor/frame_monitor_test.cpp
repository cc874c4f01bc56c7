#include "link/modbus_requests.h"
#include "link_fixture.h"
#include "monitor/frame_monitor.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

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

TEST_F(MonitoredLink, aLateReplyCountsOneRequestOneResendAndOneReply)
{
    bool first = true;
    port.setResponder([&](const QByteArray &, FakeSerialPort &p) {
        if (std::exchange(first, false))
            p.deliver(holdingReply(), 1500);
    });
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));

    MonitorCounters expected;
    expected.requests = 2;
    expected.resends = 1;
    expected.replies = 1;
    EXPECT_EQ(monitor.counters(), expected) << countersText(monitor.counters()).toStdString();
    EXPECT_EQ(column(FrameMonitor::DirectionColumn), QStringList({"sent", "resent", "received"}));
    EXPECT_EQ(column(FrameMonitor::ReadingColumn),
              QStringList({"read holding registers 76-83", "read holding registers 76-83",
                           "16 bytes: registers 76-83"}));
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::HexColumn), "01 03 00 4C 00 08 85 DB");
}

TEST_F(MonitoredLink, aSilentMeterCountsATimeOutAndNoReply)
{
    EXPECT_FALSE(link.ReadDisplayBlock(1));
    MonitorCounters expected;
    expected.requests = 1;
    expected.timeOuts = 1;
    EXPECT_EQ(monitor.counters(), expected);
    EXPECT_EQ(column(FrameMonitor::DirectionColumn), QStringList({"sent", "failed"}));
    EXPECT_EQ(monitor.cellText(1, FrameMonitor::ReadingColumn),
              "time-out: no reply to display block");
    EXPECT_EQ(monitor.cellText(1, FrameMonitor::HexColumn), "");
}

TEST_F(MonitoredLink, aWrongCrcCountsOneReplyAndOneCrcErrorOnASingleRow)
{
    QByteArray reply = appendCrc(QByteArray::fromHex("01610885F8"));
    reply[6] = static_cast<char>(reply[6] ^ 0x40);
    answerEverySendWith(reply);
    EXPECT_FALSE(link.ReadLastDownloadPointer(1));

    MonitorCounters expected;
    expected.requests = 1;
    expected.replies = 1;
    expected.crcErrors = 1;
    EXPECT_EQ(monitor.counters(), expected);
    EXPECT_EQ(column(FrameMonitor::ReadingColumn),
              QStringList({"last-download pointer", "reply CRC wrong"}));
    EXPECT_EQ(monitor.cellText(1, FrameMonitor::HexColumn),
              QString::fromLatin1(reply.toHex(' ').toUpper()));
}

TEST_F(MonitoredLink, aPortThatWillNotOpenIsCountedApart)
{
    port.failOpenWith(QStringLiteral("no such device"));
    EXPECT_FALSE(link.ReadDisplayBlock(1));
    EXPECT_EQ(monitor.counters().portFailures, 1);
    EXPECT_EQ(monitor.counters().requests, 0);
    EXPECT_EQ(column(FrameMonitor::ReadingColumn), QStringList({"port would not open"}));
}

TEST_F(MonitoredLink, whilePausedNothingIsRecordedAndAfterResumeTheReplyStillPairsWithItsRequest)
{
    answerEverySendWith(holdingReply());
    monitor.setPaused(true);
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_EQ(monitor.rowCount(), 0);
    EXPECT_EQ(monitor.counters(), MonitorCounters());

    monitor.setPaused(false);
    monitor.replyRead(holdingReply(), true);
    EXPECT_EQ(column(FrameMonitor::ReadingColumn), QStringList({"16 bytes: registers 76-83"}));
}

TEST_F(MonitoredLink, clearForgetsRowsAndCountersAndSaysSo)
{
    answerEverySendWith(holdingReply());
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    QSignalSpy spy(&monitor, &FrameMonitor::countersChanged);
    monitor.clear();
    EXPECT_EQ(monitor.rowCount(), 0);
    EXPECT_EQ(monitor.counters(), MonitorCounters());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).value<MonitorCounters>(), MonitorCounters());
}

TEST_F(MonitoredLink, theTextForASupportRequestHasTheCountersThenALineAFrame)
{
    answerEverySendWith(holdingReply());
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
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
}

TEST(FrameMonitorRows, aReplyTheLinkVouchedForButWhoseStartWasMissedIsNotCalledACrcError)
{
    StoppedClock clock;
    FrameMonitor monitor(clock);
    const QByteArray whole = appendCrc(QByteArray::fromHex("01610885F8"));
    monitor.replyRead(whole.mid(3), true);
    EXPECT_EQ(monitor.cellText(0, FrameMonitor::ReadingColumn),
              "end of a reply begun before the monitor was opened");
    EXPECT_EQ(monitor.counters().crcErrors, 0);
}

} // namespace

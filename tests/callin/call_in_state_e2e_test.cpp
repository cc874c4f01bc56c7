#include "cumulative/call_in_line_file.h"
#include "store/store_open.h"
#include "file_bytes.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <functional>

using namespace ostrand::collect;
using ostrand::testing::writeFileBytes;

namespace {

// What status would read now for the station: from the store, or from the file beside its output.
using LineReader = std::function<std::optional<CallInState>()>;

// Polls until the station's recorded line satisfies `wanted`, `waitMs` at most.
std::optional<CallInState> waitForLine(const LineReader &read, const std::function<bool(const CallInState &)> &wanted,
                                       int waitMs)
{
    QElapsedTimer waited;
    waited.start();
    std::optional<CallInState> state;
    while (waited.elapsed() < waitMs) {
        state = read();
        if (state && wanted(*state))
            return state;
        QThread::msleep(50);
    }
    return state;
}

class ListenerRecords : public ::testing::TestWithParam<bool> {};

} // namespace

// A router calls, stays, hangs up, calls again, and the listener is stopped: the line recorded
// follows each step, with the caller's address, and ends not connected.
TEST_P(ListenerRecords, aCallItsEndAndTheStopAreRecordedForStatus)
{
    const bool withStore = GetParam();
    QTemporaryDir dir;
    const QString output = dir.filePath("north.csv");
    writeFileBytes(dir.filePath("stations.ini"),
                   QByteArray("[north]\ncall-in = north-1\nreply-timeout = 200\noutput = north.csv\n")
                       + (withStore ? "[store]\nurl = sqlite:flow.db\n" : ""));
    const LineReader read = [&]() -> std::optional<CallInState> {
        if (!withStore)
            return readCallInLine(output, "north").state;
        QString error;
        auto store = openStoreReader(QStringLiteral("sqlite:flow.db"), dir.path(), &error);
        const auto lines = store ? store->callInStates(&error) : std::nullopt;
        return lines && !lines->empty() ? std::optional(lines->front()) : std::nullopt;
    };

    QProcess listener;
    listener.setWorkingDirectory(dir.path());
    listener.start(QStringLiteral(OSTRAND_CLI),
                   {"collect", "--stations", dir.filePath("stations.ini"), "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(listener.waitForReadyRead(20000)) << listener.readAllStandardError().constData();
    const QString started = QString::fromLocal8Bit(listener.readLine());
    const auto port = QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+) ").match(started);
    ASSERT_TRUE(port.hasMatch()) << qPrintable(started);

    QTcpSocket router;
    router.connectToHost("127.0.0.1", port.captured(1).toUShort());
    ASSERT_TRUE(router.waitForConnected(5000));
    router.write("north-1");
    ASSERT_TRUE(router.waitForBytesWritten(5000));
    const QString peer = QStringLiteral("127.0.0.1:%1").arg(router.localPort());
    const auto up = waitForLine(read, [](const CallInState &s) { return s.connected; }, 10000);
    ASSERT_TRUE(up && up->connected) << "no connected line recorded";
    EXPECT_EQ(up->peer, peer);
    EXPECT_LE(std::abs(up->sinceUtc.secsTo(QDateTime::currentDateTimeUtc())), 10);

    router.disconnectFromHost();
    const auto down = waitForLine(read, [](const CallInState &s) { return !s.connected; }, 30000);
    ASSERT_TRUE(down && !down->connected) << "the end of the call was not recorded";
    EXPECT_EQ(down->peer, peer);
    EXPECT_GE(down->sinceUtc, up->sinceUtc);

    QTcpSocket again;
    again.connectToHost("127.0.0.1", port.captured(1).toUShort());
    ASSERT_TRUE(again.waitForConnected(5000));
    again.write("north-1");
    ASSERT_TRUE(again.waitForBytesWritten(5000));
    const QString secondPeer = QStringLiteral("127.0.0.1:%1").arg(again.localPort());
    ASSERT_TRUE(waitForLine(read, [&](const CallInState &s) { return s.connected && s.peer == secondPeer; }, 10000))
        << "the second call was not recorded";

    listener.terminate();
    ASSERT_TRUE(listener.waitForFinished(10000));
    EXPECT_EQ(listener.exitCode(), 0) << listener.readAllStandardError().constData();
    const auto stopped = read();
    ASSERT_TRUE(stopped);
    EXPECT_FALSE(stopped->connected);
    EXPECT_EQ(stopped->peer, secondPeer);
}

INSTANTIATE_TEST_SUITE_P(CallIn, ListenerRecords, ::testing::Values(false, true),
                         [](const auto &test) { return test.param ? "IntoTheStore" : "IntoTheFiles"; });

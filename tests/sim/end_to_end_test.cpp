// Runs the real ostrand-metersim program and talks to it through its link the way any
// serial program would: plain open(), raw termios, write, read.

#include "crc16.h"
#include "sim_test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

class RunningSim {
public:
    explicit RunningSim(const QStringList &arguments)
    {
        process.start(QStringLiteral(OSTRAND_METERSIM), arguments);
        EXPECT_TRUE(process.waitForStarted(5000));
    }
    ~RunningSim()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    // The next stdout line, or empty after `timeoutMs`.
    QString nextLine(int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!process.canReadLine() && timer.elapsed() < timeoutMs)
            process.waitForReadyRead(50);
        return QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    QProcess process;
};

// The program's end of the cable.
class Port {
public:
    explicit Port(const QString &path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        termios tio{};
        EXPECT_EQ(tcgetattr(fd_, &tio), 0) << path.toStdString();
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Port() { ::close(fd_); }
    void send(const QByteArray &bytes)
    {
        EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), bytes.size());
    }
    // Reads until `count` bytes, `until` is seen, the line hangs up, or `timeoutMs` passed.
    QByteArray receive(int count, int timeoutMs, const QByteArray &until = {})
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count && timer.elapsed() < timeoutMs &&
               (until.isEmpty() || !got.contains(until))) {
            pollfd p{fd_, POLLIN, 0};
            char buf[512];
            ssize_t n = 0;
            if (poll(&p, 1, 20) > 0 && (n = ::read(fd_, buf, sizeof buf)) <= 0)
                break; // hung up
            got.append(buf, int(n));
        }
        return got;
    }

private:
    int fd_;
};

long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields =
        stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
    return fields.size() > 15 ? fields[13].toLong() + fields[14].toLong() : -1;
}

} // namespace

TEST(MeterSimProgram, AnswersOnItsLinkLikeTheMeterCoreSleepsWhenIdleAndTidiesUpOnTermination)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/pts/99"), link))
        << "a stale link to replace";
    const QStringList options{"--records", "500", "--channels", "3", "--start", "2026-12-01 00:00"};
    RunningSim sim(QStringList{"--link", link} + options);
    const QString ready = sim.nextLine();
    ASSERT_TRUE(ready.startsWith(QStringLiteral("ready %1 -> /dev/").arg(link)))
        << ready.toStdString();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), ready.section(QStringLiteral(" -> "), 1));

    Port port(link);
    const QByteArray pointerRequest = QByteArray::fromHex("0103004C000885DB");
    port.send(pointerRequest);
    const QByteArray reply = port.receive(21, 3000);
    EXPECT_TRUE(hasValidCrc(reply));
    EXPECT_EQ(reply, meterFrom(options).meter->respond(pointerRequest, testNow()).bytes);

    port.send(QByteArray::fromHex("016281C9"));
    EXPECT_EQ(port.receive(4, 3000), QByteArray::fromHex("016281C9"));
    EXPECT_EQ(sim.nextLine(), QStringLiteral("confirmed"));

    const long before = cpuTicks(sim.process.processId());
    usleep(1000 * 1000);
    EXPECT_LT(cpuTicks(sim.process.processId()) - before, 10) << "CPU ticks used in a quiet second";

    sim.process.terminate();
    ASSERT_TRUE(sim.process.waitForFinished(5000));
    EXPECT_EQ(sim.process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "link removed";
}

TEST(MeterSimProgram, DropsTheLineMidReplyAndComesBackOnAFreshOne)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    RunningSim sim({"--link", link, "--drop-after", "10"});
    ASSERT_TRUE(sim.nextLine().startsWith(QStringLiteral("ready")));
    {
        Port port(link);
        port.send(QByteArray::fromHex("01634009"));
        EXPECT_EQ(port.receive(26, 1500).size(), 10);
    }
    EXPECT_EQ(sim.nextLine(), QStringLiteral("dropped"));
    ASSERT_TRUE(sim.nextLine().startsWith(QStringLiteral("ready")));
    Port port(link);
    port.send(QByteArray::fromHex("01634009"));
    EXPECT_EQ(port.receive(26, 3000).size(), 26);
}

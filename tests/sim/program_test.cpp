// The real ostrand-metersim on a pseudo-terminal, spoken to as any serial program would.

#include "metersim_process.h"
#include "sim_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrand::sim::testing;
using ostrand::testing::MeterSimProcess;

namespace {

long cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields = stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
    return fields.size() > 15 ? fields[13].toLong() + fields[14].toLong() : -1;
}

} // namespace

TEST(MeterSimProgram, ReplacesAStaleLinkAnswersLikeItsCoreSleepsWhenIdleAndTidiesUp)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent/pts/99"), link));
    const QStringList options{"--records", "500", "--channels", "3", "--start", "2026-12-01 00:00"};
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), QStringList{"--verbose"} + options));
    EXPECT_TRUE(QFileInfo(link).symLinkTarget().startsWith(QLatin1String("/dev/")));

    const QByteArray pointers = framed("0103004C0008");
    EXPECT_EQ(sim.exchange(pointers, 21), meterFrom(options).meter->respond(pointers, testNow()).bytes);
    EXPECT_EQ(sim.exchange(framed("0162"), 4), framed("0162"));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed")));
    EXPECT_EQ(sim.trace().filter(QStringLiteral("<- 01 62 81 C9")).size(), 1) << "the trace shows the frame";

    const long before = cpuTicks(sim.processId());
    usleep(1000 * 1000);
    EXPECT_LT(cpuTicks(sim.processId()) - before, 10) << "CPU ticks used in a quiet second";
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "link removed";
}

TEST(MeterSimProgram, DropsTheLineMidReplyAndComesBackOnAFreshOne)
{
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--drop-after", "10"}));
    EXPECT_EQ(sim.exchange(framed("0163"), 26, 1500).size(), 10);
    EXPECT_TRUE(sim.waitFor(QStringLiteral("dropped")));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("ready "), 2)) << "a fresh line";
    EXPECT_EQ(sim.exchange(framed("0163"), 26).size(), 26);
}

#include "cli_run.h"
#include "metersim_process.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace ostrand::testing;

namespace {

// `ostrand-cli display` run to its end: per tick, its five lines without their "L1|" ... "AL|"
// tags, which must be there in order.
QList<QStringList> displayTicks(const QStringList &arguments)
{
    const CliRun run = runCli(QStringList{"display"} + arguments);
    EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
    static const char *const tags[] = {"L1|", "L2|", "L3|", "L4|", "AL|"};
    QList<QStringList> ticks;
    for (int i = 0; i < run.lines.size(); ++i) {
        if (i % 5 == 0)
            ticks.append(QStringList());
        EXPECT_TRUE(run.lines[i].startsWith(QLatin1String(tags[i % 5])))
            << run.lines[i].toStdString();
        ticks.back() << run.lines[i].mid(3);
    }
    return ticks;
}

} // namespace

TEST(DisplayEndToEnd, showsThe7700sTextSendingAQueuedKeyOnceAndThe8300sValuesAndAlarms)
{
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--records", "20", "--alarms", "63"}));
    const auto plain = displayTicks({"--port", sim.linkPath(), "--type", "7700"});
    const auto menu =
        displayTicks({"--port", sim.linkPath(), "--type", "7700", "--keys", "M", "--ticks", "2"});
    ASSERT_EQ(plain.size(), 1);
    ASSERT_EQ(menu.size(), 2);
    for (int line = 0; line < 4; ++line)
        EXPECT_EQ(plain[0][line].size(), 20) << line;
    EXPECT_NE(menu[0][0], plain[0][0]) << "the menu key changed the screen";
    EXPECT_EQ(menu[1][0], menu[0][0]) << "and was not sent again";
    EXPECT_EQ(sim.trace().filter(QStringLiteral("<- 01 10 00 D0")).size(), 1)
        << "one key frame on the wire";

    const auto block = displayTicks(
        {"--port", sim.linkPath(), "--type", "8300", "--flow-units", "0", "--flow-format", "0"});
    ASSERT_EQ(block.size(), 1); // its flow line is the network test's (tests/e2e)
    EXPECT_TRUE(block[0][3].startsWith(QLatin1String("Reverse Total = ")))
        << block[0][3].toStdString();
    EXPECT_EQ(block[0][4],
              " Setpoint 1  Setpoint 2  Setpoint 3  Lost Signal  4-20 Loop#1  4-20 Loop#2 ");
}

#include "metersim_process.h"
#include "qt_printers.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace ostrand::testing;

namespace {

// `ostrand-cli display` run to its end: the exit status and, per tick, its five
// lines without their "L1|" ... "AL|" tags (which must be there, in order).
struct DisplayRun {
    int exitCode = -1;
    QList<QList<QByteArray>> ticks;
};

DisplayRun runDisplay(const QStringList &arguments)
{
    QProcess cli;
    cli.start(QStringLiteral(OSTRAND_CLI), QStringList{"display"} + arguments);
    DisplayRun run;
    if (!cli.waitForFinished(60000))
        return run;
    run.exitCode = cli.exitCode();
    const QList<QByteArray> lines = cli.readAllStandardOutput().split('\n');
    static const char *const tags[] = {"L1|", "L2|", "L3|", "L4|", "AL|"};
    for (int i = 0; i + 5 <= lines.size(); i += 5) {
        run.ticks.append(QList<QByteArray>());
        for (int j = 0; j < 5; ++j) {
            EXPECT_TRUE(lines[i + j].startsWith(tags[j])) << lines[i + j].toStdString();
            run.ticks.back().append(lines[i + j].mid(3));
        }
    }
    return run;
}

bool matches(const QByteArray &text, const char *pattern)
{
    return QRegularExpression(QLatin1String(pattern)).match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

TEST(DisplayEndToEnd, the7700TicksShowItsFourLinesAndAQueuedKeyReachesTheMeterOnce)
{
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--records", "20"}));
    const DisplayRun plain = runDisplay({"--port", sim.linkPath(), "--type", "7700"});
    ASSERT_EQ(plain.exitCode, 0);
    ASSERT_EQ(plain.ticks.size(), 1);
    for (int line = 0; line < 4; ++line)
        EXPECT_EQ(plain.ticks[0][line].size(), 20) << line;

    const DisplayRun menu =
        runDisplay({"--port", sim.linkPath(), "--type", "7700", "--keys", "M", "--ticks", "2"});
    ASSERT_EQ(menu.ticks.size(), 2);
    EXPECT_NE(menu.ticks[0][0], plain.ticks[0][0]) << "the menu key changed the screen";
    EXPECT_EQ(menu.ticks[1][0], menu.ticks[0][0]) << "and was not sent again";
    EXPECT_EQ(sim.trace().filter(QStringLiteral("<- 01 10 00 D0")).size(), 1) << "one key frame on the wire";
}

TEST(DisplayEndToEnd, eachBlockTypeShowsItsValuesAndItsAlarmsAndASilentMeterNothing)
{
    MeterSimProcess sim;
    ASSERT_TRUE(sim.start({"--records", "20", "--alarms", "63"}));
    const QByteArray five = " Setpoint 1  Setpoint 2  Setpoint 3  Lost Signal  4-20 Loop#1 ";
    for (const char *type : {"8100", "8300", "r1900"}) {
        const DisplayRun run = runDisplay(
            {"--port", sim.linkPath(), "--type", type, "--flow-units", "0", "--flow-format", "0"});
        ASSERT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.ticks.size(), 1) << type;
        const auto &l = run.ticks[0];
        const bool is8300 = QByteArray(type) == "8300";
        EXPECT_TRUE(matches(l[0], "^Flow = \\d+\\.$")) << l[0].toStdString();
        EXPECT_TRUE(matches(l[1], "^Velocity = \\d")) << l[1].toStdString();
        EXPECT_TRUE(matches(l[2], "^Forward Total = \\d+$")) << l[2].toStdString();
        EXPECT_EQ(matches(l[3], "^Reverse Total = \\d+$"), is8300) << l[3].toStdString();
        EXPECT_EQ(l[4], is8300 ? five + " 4-20 Loop#2 " : five) << type;
    }

    MeterSimProcess silent;
    ASSERT_TRUE(silent.start({"--silent"}));
    const DisplayRun run = runDisplay({"--port", silent.linkPath(), "--type", "8100"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.ticks, (QList<QList<QByteArray>>{{"", "", "", "", ""}}));
}

TEST(DisplayEndToEnd, badUsageExitsWith64)
{
    const QStringList rows[] = {
        {},
        {"--port", "COM1"},
        {"--port", "COM1", "--type", "9000"},
        {"--port", "COM1", "--type", "7700", "--keys", "MX"},
        {"--port", "COM1", "--type", "8100", "--keys", "E"},
        {"--port", "COM1", "--type", "8100", "--flow-units", "15"},
        {"--port", "COM1", "--type", "8100", "--ticks", "0"},
    };
    for (const QStringList &arguments : rows)
        EXPECT_EQ(runDisplay(arguments).exitCode, 64) << arguments.join(u' ').toStdString();
}

#include "collect/station_collector.h"
#include "collect/station_line.h"
#include "file_bytes.h"
#include "line/meter_line.h"
#include "metersim_process.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ostrand::collect {
namespace {

// Hands out one line made elsewhere, as a listening port will hand out a meter's call.
class GivenLines : public LineSource {
public:
    explicit GivenLines(const QString &device) : line_(QStringList{})
    {
        LineChoice choice;
        choice.devicePath = device;
        line_.choose(choice);
    }

    std::unique_ptr<StationLine> open(const Station &, QStringList *) override
    {
        ++opened;
        struct Given : StationLine {
            explicit Given(MeterLine &given) : line(given) {}
            MeterLink &link() override { return line.link(); }
            void close() override { line.close(); }
            MeterLine &line;
        };
        return std::make_unique<Given>(line_);
    }
    EventPump &pump() override { return line_.pump(); }
    const Clock &clock() const override { return line_.clock(); }

    int opened = 0;

private:
    MeterLine line_;
};

// The station's own port leads nowhere: only the line the collector is given reaches the meter,
// and over it the station is collected, written and confirmed as over a line it opened itself.
TEST(GivenLine, aStationIsCollectedWrittenAndConfirmedOverTheLineItIsGiven)
{
    QTemporaryDir dir;
    testing::MeterSimProcess sim;
    ASSERT_TRUE(sim.start(dir.path(), {"--start", "2024-01-01 00:15", "--records", "12"}, "given"));
    Station station;
    station.name = "north";
    station.lineChoice.devicePath = dir.filePath("no-such-port");
    station.lineChoice.slave = 1;
    station.output = dir.filePath("north.csv");
    auto lines = std::make_unique<GivenLines>(sim.linkPath());
    GivenLines &given = *lines;
    CollectOptions options;
    options.retries = 0;
    PortCollector collector(options, std::move(lines));

    const StationReport report = collector.collect(station);
    EXPECT_TRUE(report.succeeded) << qPrintable(report.errors.join("; "));
    EXPECT_EQ(report.newRows, 12);
    EXPECT_EQ(given.opened, 1);
    EXPECT_FALSE(testing::readFileBytes(station.output).isEmpty());
    EXPECT_TRUE(sim.waitFor("confirmed"));
    // Again over the next line it is given, on from the file's cursor.
    const StationReport again = collector.collect(station);
    EXPECT_TRUE(again.succeeded) << qPrintable(again.errors.join("; "));
    EXPECT_EQ(again.newRows, 0);
    EXPECT_EQ(given.opened, 2);
}

} // namespace
} // namespace ostrand::collect

#include "cumulative/call_in_line_file.h"
#include "cumulative/collection_history.h"
#include "store/reading_store.h"
#include "cli_run.h"
#include "file_bytes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

QDateTime at(const char *time)
{
    return QDateTime::fromString(time, Qt::ISODate).toUTC();
}

// A fleet of one station that is dialled and four that call in, as status reads it at 08:00.
const QByteArray kStations = "[pump]\nport = /dev/ttyUSB9\noutput = pump.csv\n"
                             "[north]\ncall-in = north-1\noutput = north.csv\n"
                             "[south]\ncall-in = south-1\noutput = south.csv\n"
                             "[east]\ncall-in = east-1\noutput = east.csv\n"
                             "[west]\ncall-in = west-1\noutput = west.csv\n";
const char kNow[] = "2026-12-07T08:00:00Z";

struct Recorded {
    const char *station;
    const char *lastOk; // nullptr: never collected
    std::optional<CallInState> line;
};

// north: collected, connected; south: never collected, its call over; east: never called in;
// west: collected too long ago, recorded as connected but not said since 07:40.
const std::vector<Recorded> kFleet = {
    {"north", "2026-12-07T07:30:00Z",
     CallInState{"north", true, "192.0.2.7:40112", at("2026-12-07T07:12:03Z"), at("2026-12-07T07:59:40Z"),
                 at("2026-12-07T07:59:41Z")}},
    {"south", nullptr,
     CallInState{"south", false, "198.51.100.4:5000", at("2026-12-07T06:00:00Z"), at("2026-12-07T05:59:30Z"),
                 at("2026-12-07T06:00:01Z")}},
    {"west", "2026-12-06T02:00:00Z",
     CallInState{"west", true, "[2001:db8::5]:7001", at("2026-12-07T07:00:00Z"), at("2026-12-07T07:39:00Z"),
                 at("2026-12-07T07:40:05Z")}},
};

const QStringList kLines = {
    "pump: Stale, never collected, attempts in 24 h: 0, failed: 0",
    "north: OK, last success 2026-12-07T07:30:00Z (0.5 h ago), connected since 2026-12-07T07:12:03Z from "
    "192.0.2.7:40112, last heard 2026-12-07T07:59:40Z, attempts in 24 h: 1, failed: 0",
    "south: Stale, never collected, not connected since 2026-12-07T06:00:00Z (last call from 198.51.100.4:5000), "
    "last heard 2026-12-07T05:59:30Z, attempts in 24 h: 0, failed: 0",
    "east: Stale, never collected, never called in, attempts in 24 h: 0, failed: 0",
    "west: Stale, last success 2026-12-06T02:00:00Z (30.0 h ago), connected since 2026-12-07T07:00:00Z from "
    "[2001:db8::5]:7001, not confirmed since 2026-12-07T07:40:05Z, last heard 2026-12-07T07:39:00Z, attempts in "
    "24 h: 0, failed: 0",
};

CollectionRow okRun(const char *station, const char *finished)
{
    return {station, at(finished).addSecs(-10), at(finished), "ok", 1, 1, {}};
}

CliRun statusAt(const QString &dir, const QStringList &more = {})
{
    qputenv("OSTRAND_CLI_NOW", kNow);
    const CliRun run = runCli(QStringList{"status", "--stations", dir + "/stations.ini"} + more, dir, 60000);
    qunsetenv("OSTRAND_CLI_NOW");
    return run;
}

enum class Source { Store, Files };

void PrintTo(Source source, std::ostream *out)
{
    *out << (source == Source::Store ? "Store" : "Files");
}

class CallInStatus : public ::testing::TestWithParam<Source> {
protected:
    void SetUp() override
    {
        ::chmod(QFile::encodeName(dir_.path()), 0700);
        QByteArray stations = kStations;
        QString error;
        if (GetParam() == Source::Store) {
            stations += "[store]\nurl = sqlite:flow.db\n";
            auto store = openReadingStore({StoreLocation::Kind::Sqlite, dir_.filePath("flow.db")}, &error);
            ASSERT_TRUE(store) << qPrintable(error);
            std::vector<CallInState> lines;
            for (const Recorded &r : kFleet) {
                if (r.lastOk) {
                    const CollectionRow run = okRun(r.station, r.lastOk);
                    ASSERT_TRUE(store->write({StationRow{r.station, "", "", run.finishedUtc, run.finishedUtc, {}}, run,
                                              {}, {}},
                                             &error))
                        << qPrintable(error);
                }
                lines.push_back(*r.line);
            }
            ASSERT_TRUE(store->recordCallInStates(lines, &error)) << qPrintable(error);
        } else {
            for (const Recorded &r : kFleet) {
                const QString output = dir_.filePath(QString(r.station) + ".csv");
                if (r.lastOk) {
                    ASSERT_TRUE(recordRun(output, okRun(r.station, r.lastOk), &error)) << qPrintable(error);
                }
                ASSERT_TRUE(recordCallInLine(output, *r.line, &error)) << qPrintable(error);
            }
        }
        writeFileBytes(dir_.filePath("stations.ini"), stations);
    }

    QTemporaryDir dir_;
};

} // namespace

// The dialled station's line is as it always was; each that calls in says how its connection stands.
TEST_P(CallInStatus, eachCallInStationSaysWhetherItIsConnectedSinceWhenAndWhenLastHeard)
{
    const CliRun run = statusAt(dir_.path());
    EXPECT_EQ(run.exitCode, 1) << qPrintable(run.errors);
    EXPECT_EQ(run.lines, kLines);
    EXPECT_EQ(run.errors, "");
}

TEST_P(CallInStatus, theJsonHasACallInObjectForStationsThatCallInAlone)
{
    const CliRun run = statusAt(dir_.path(), {"--json"});
    EXPECT_EQ(run.exitCode, 1) << qPrintable(run.errors);
    const QJsonArray stations = QJsonDocument::fromJson(run.lines.join('\n').toUtf8())["stations"].toArray();
    ASSERT_EQ(stations.size(), 5) << qPrintable(run.lines.join('\n'));
    EXPECT_FALSE(stations.at(0).toObject().contains("callIn"));
    EXPECT_EQ(stations.at(0).toObject().keys(),
              QStringList({"ageHours", "attempts24h", "failures24h", "intervalSeconds", "lastAttempt", "lastError",
                           "lastReading", "lastSuccess", "name", "stale", "state"}));
    const auto callIn = [&](int i) {
        return QString::fromUtf8(QJsonDocument(stations.at(i)["callIn"].toObject()).toJson(QJsonDocument::Compact));
    };
    EXPECT_EQ(callIn(1), R"({"connected":true,"lastHeard":"2026-12-07T07:59:40Z","peer":"192.0.2.7:40112",)"
                         R"("recorded":"2026-12-07T07:59:41Z","since":"2026-12-07T07:12:03Z"})");
    EXPECT_EQ(callIn(2), R"({"connected":false,"lastHeard":"2026-12-07T05:59:30Z","peer":"198.51.100.4:5000",)"
                         R"("recorded":"2026-12-07T06:00:01Z","since":"2026-12-07T06:00:00Z"})");
    EXPECT_EQ(callIn(3), R"({"connected":false,"lastHeard":null,"peer":null,"recorded":null,"since":null})");
    // Not said again for more than five minutes: whether it is still up is not known.
    EXPECT_EQ(callIn(4), R"({"connected":null,"lastHeard":"2026-12-07T07:39:00Z","peer":"[2001:db8::5]:7001",)"
                         R"("recorded":"2026-12-07T07:40:05Z","since":"2026-12-07T07:00:00Z"})");
    EXPECT_EQ(stations.at(4)["stale"], QJsonValue(true));
    EXPECT_EQ(stations.at(4)["state"], QJsonValue("Stale"));
    // A dialled station's day, a meter that calls in's hour, unless the file says.
    EXPECT_EQ(stations.at(0)["intervalSeconds"], QJsonValue(86400));
    EXPECT_EQ(stations.at(1)["state"], QJsonValue("OK"));
    EXPECT_EQ(stations.at(1)["intervalSeconds"], QJsonValue(3600));
}

INSTANTIATE_TEST_SUITE_P(Health, CallInStatus, ::testing::Values(Source::Store, Source::Files));

// A line file is read bounded and never through a link; one status cannot read is named, and
// its station counts as never called in.
TEST(CallInLineFile, aFileThatIsNotALineWrittenByTheListenerIsNamedAndReadAsNone)
{
    QTemporaryDir dir;
    ::chmod(QFile::encodeName(dir.path()), 0700);
    const CallInState state{"north", true, "192.0.2.7:40112", at("2026-12-07T07:12:03Z"), at("2026-12-07T07:59:40Z"),
                            at("2026-12-07T07:59:41Z")};
    QString error;
    ASSERT_TRUE(recordCallInLine(dir.filePath("good.csv"), state, &error)) << qPrintable(error);
    writeFileBytes(dir.filePath("garbage.csv.line"), "{\"connected\": \"yes\"}\n");
    writeFileBytes(dir.filePath("huge.csv.line"), QByteArray(kCallInLineReadBytes + 1, ' ') + callInLineText(state));
    ASSERT_EQ(::symlink(QFile::encodeName(dir.filePath("good.csv.line")), QFile::encodeName(dir.filePath("link.csv.line"))), 0);
    const struct {
        const char *output;
        bool read;
        const char *error;
    } rows[] = {
        {"good.csv", true, ""},
        {"missing.csv", false, ""},
        {"garbage.csv", false, "is not a call-in line as collect --listen writes it"},
        {"huge.csv", false, "huge.csv.line"},
        {"link.csv", false, "link.csv.line"},
    };
    for (const auto &row : rows) {
        const CallInLineRead read = readCallInLine(dir.filePath(row.output), "north");
        EXPECT_EQ(read.state.has_value(), row.read) << row.output;
        EXPECT_EQ(read.error.isEmpty(), QString(row.error).isEmpty()) << row.output << ": " << qPrintable(read.error);
        EXPECT_TRUE(read.error.contains(row.error)) << qPrintable(read.error);
        if (read.state) {
            EXPECT_EQ(callInLineText(*read.state), callInLineText(state));
        }
    }
}

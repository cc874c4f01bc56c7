#include "export/reading_export.h"
#include "store/reading_store.h"
#include "web/fleet_rows.h"
#include "web/status_site.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand::collect;
using namespace ostrand::web;

namespace {

const QDateTime kNow = utcFromText("2026-12-07T12:00:00Z");
const QString kHostile = QStringLiteral("<script>alert(1)</script>");

Station station(const QString &name)
{
    Station s;
    s.name = name;
    s.timezone = "Europe/London";
    s.intervalMs = 24 * 3600 * 1000LL;
    return s;
}

StoredReading reading(const QString &station, int channel, const QDateTime &utc, double value,
                      const QString &label = QStringLiteral("Flow (l/s)"),
                      const QString &unit = QStringLiteral("l/s"))
{
    const QDateTime local = utc.toTimeZone(QTimeZone("Europe/London"));
    return {station, channel, label,
            unit,    utc,     local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            value};
}

// A station's run as collect leaves it: its row, the run, and its readings.
StationWrite run(const QString &name, const QDateTime &at, const QString &error = {},
                 std::vector<StoredReading> readings = {}, std::optional<QDateTime> lastOk = {})
{
    const bool ok = error.isEmpty();
    return {StationRow{name, "COM1", "Europe/London", at, ok ? std::optional(at) : lastOk, error},
            CollectionRow{name, at.addSecs(-30), at, ok ? "ok" : "failed", int(readings.size()),
                          ok ? 1 : 3, error},
            std::move(readings),
            {}};
}

class Site : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        store = openReadingStore({StoreLocation::Kind::Sqlite, dir.filePath("flow.db")}, &error);
        ASSERT_TRUE(store) << qPrintable(error);
    }
    void put(const StationWrite &w) { ASSERT_TRUE(store->write(w, &error)) << qPrintable(error); }
    SiteResponse get(const QString &path, const QString &query = {})
    {
        return answerRequest(settings, {path, QUrlQuery(query)}, *store, kNow);
    }
    QJsonArray stationsJson()
    {
        const SiteResponse r = get("/api/stations");
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.contentType, "application/json");
        return QJsonDocument::fromJson(r.body).object().value("stations").toArray();
    }

    QTemporaryDir dir;
    QString error;
    std::unique_ptr<ReadingStore> store;
    SiteSettings settings;
};

QString header(const SiteResponse &r, const QByteArray &name)
{
    for (const auto &[key, value] : r.headers)
        if (key == name)
            return QString::fromUtf8(value);
    return {};
}

} // namespace

TEST_F(Site, theFleetIsSortedWorstFirstWithEachStationsStateAttemptsAndError)
{
    settings.staleAfterSeconds = 72 * 3600;
    for (const char *name : {"fine", "late", "failing", "stale", "never"})
        settings.stations.push_back(station(name));
    put(run("fine", kNow.addSecs(-3600)));
    put(run("late", kNow.addSecs(-40 * 3600)));
    put(run("stale", kNow.addSecs(-100 * 3600)));
    put(run("failing", kNow.addSecs(-5 * 3600)));
    put(run("failing", kNow.addSecs(-2 * 3600), "no reply from slave 1", {},
            kNow.addSecs(-5 * 3600)));

    const QJsonArray rows = stationsJson();
    ASSERT_EQ(rows.size(), 5);
    const struct {
        const char *name, *state;
        int attempts, failures;
    } expected[] = {{"never", "Stale", 0, 0},
                    {"stale", "Stale", 0, 0},
                    {"failing", "Failing", 4, 3},
                    {"late", "Late", 0, 0},
                    {"fine", "OK", 1, 0}};
    for (int i = 0; i < 5; ++i) {
        const QJsonObject row = rows[i].toObject();
        EXPECT_EQ(row["name"].toString(), expected[i].name) << i;
        EXPECT_EQ(row["state"].toString(), expected[i].state) << expected[i].name;
        EXPECT_EQ(row["attempts_24h"].toInt(), expected[i].attempts) << expected[i].name;
        EXPECT_EQ(row["failures_24h"].toInt(), expected[i].failures) << expected[i].name;
    }
    const QJsonObject failing = rows[2].toObject();
    EXPECT_EQ(failing["last_error"].toString(), "no reply from slave 1");
    EXPECT_EQ(failing["last_success"].toString(), "2026-12-07T07:00:00Z");
    EXPECT_EQ(failing["last_attempt"].toString(), "2026-12-07T10:00:00Z");
    EXPECT_EQ(failing["age_seconds"].toInt(), 5 * 3600);
    EXPECT_TRUE(rows[0].toObject()["last_success"].isNull());
    // The bar's hours end now: the failed run 2 h ago is in the third hour from the end, the good
    // one in the sixth.
    const QJsonArray hours = failing["hours"].toArray();
    ASSERT_EQ(hours.size(), 24);
    EXPECT_EQ(hours[21].toObject()["state"].toString(), "failed");
    EXPECT_EQ(hours[18].toObject()["state"].toString(), "ok");
    EXPECT_EQ(hours[23].toObject()["state"].toString(), "none");

    // The page shows the same rows in the same order, each linking to its page.
    const QString page = QString::fromUtf8(get("/").body);
    qsizetype at = 0;
    for (const auto &e : expected) {
        const qsizetype found =
            page.indexOf(QStringLiteral("<a href=\"/station/%1\">").arg(e.name), at);
        ASSERT_GT(found, at) << e.name;
        at = found;
    }
    EXPECT_TRUE(page.contains("no reply from slave 1"));
    EXPECT_TRUE(page.contains("setInterval(refresh, 60000)"));
    EXPECT_FALSE(page.contains("src=\"http")) << "the page loads nothing from outside";
}

TEST_F(Site, aHostileStationNameLabelAndErrorShowAsTextInHtmlSvgJsonAndLinks)
{
    const QString label = QStringLiteral("<b onmouseover=\"x\">Pump</b> & 'co'");
    const QString hostileError = QStringLiteral("<img src=x onerror=alert(2)>");
    settings.stations = {station(kHostile)};
    std::vector<StoredReading> readings;
    for (int i = 0; i < 8; ++i)
        readings.push_back(
            reading(kHostile, 1, kNow.addSecs(-3 * 3600 + i * 900), i, label, "<u>"));
    put(run(kHostile, kNow.addSecs(-3600), {}, readings));
    put(run(kHostile, kNow.addSecs(-600), hostileError, {}, kNow.addSecs(-3600)));

    const QByteArray fleet = get("/").body;
    const QByteArray page = get("/station/" + kHostile).body;
    for (const QByteArray &html : {fleet, page}) {
        EXPECT_FALSE(html.contains("<script>alert(1)")) << html.constData();
        EXPECT_FALSE(html.contains("<img src=x")) << html.constData();
        EXPECT_TRUE(html.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
        EXPECT_TRUE(html.contains("&lt;img src=x onerror=alert(2)&gt;"));
    }
    EXPECT_TRUE(fleet.contains("href=\"/station/%3Cscript%3Ealert%281%29%3C%2Fscript%3E\""));
    EXPECT_TRUE(
        page.contains("/api/stations/%3Cscript%3Ealert%281%29%3C%2Fscript%3E/readings?from="));
    // The label inside the SVG.
    EXPECT_FALSE(page.contains("<b onmouseover")) << page.constData();
    EXPECT_TRUE(page.contains(
        "&lt;b onmouseover=&quot;x&quot;&gt;Pump&lt;/b&gt; &amp; &#39;co&#39; (&lt;u&gt;)"));

    const QJsonObject row = stationsJson()[0].toObject();
    EXPECT_EQ(row["name"].toString(), kHostile);
    EXPECT_EQ(row["last_error"].toString(), hostileError);
    // The download's file name is the name made safe.
    const SiteResponse download =
        get("/api/stations/" + kHostile + "/readings",
            "from=2026-12-07T00:00:00Z&to=2026-12-08T00:00:00Z&format=csv");
    EXPECT_EQ(header(download, "Content-Disposition"),
              "attachment; "
              "filename=\"_script_alert_1___script__20261207T000000Z_20261208T000000Z_csv.csv\"");
}

TEST(Strip, aDayShortOfOneIntervalIsNotWholeAndClockChangeDaysAreMeasuredInTheirZone)
{
    const QTimeZone london("Europe/London");
    const QDate today(2026, 11, 2);
    const struct {
        QDate day;
        int instants, intervalSeconds;
        MeterClock clock;
        int expected;
        bool whole;
    } table[] = {
        {{2026, 10, 20}, 96, 900, MeterClock::Local, 96, true},
        {{2026, 10, 20}, 95, 900, MeterClock::Local, 96, false},   // one quarter-hour missing
        {{2026, 10, 25}, 100, 900, MeterClock::Local, 100, true},  // 25 hours
        {{2026, 10, 25}, 96, 900, MeterClock::Local, 100, false},  // a full 24 h is short of the
                                                                   // 25-h day
        {{2026, 10, 25}, 96, 900, MeterClock::Standard, 96, true}, // a meter on standard time lives
                                                                   // 24 h
        {{2026, 3, 29}, 92, 900, MeterClock::Local, 92, true},     // 23 hours (outside the 90 days:
                                                                   // below)
        {{2026, 10, 20}, 5, 0, MeterClock::Local, 0, false}, // interval not known: never whole
    };
    for (const auto &t : table) {
        SCOPED_TRACE(qPrintable(t.day.toString(Qt::ISODate)));
        const QDate ending = t.day < today.addDays(-kStripDays) ? t.day.addDays(1) : today;
        const std::vector<DayCell> days =
            stripDays({{"a", t.day, t.instants, t.intervalSeconds}}, ending, london, t.clock);
        ASSERT_EQ(days.size(), size_t(kStripDays));
        EXPECT_EQ(days.back().date, ending.addDays(-1));
        const auto cell = std::find_if(days.begin(), days.end(),
                                       [&](const DayCell &d) { return d.date == t.day; });
        ASSERT_NE(cell, days.end()) << qPrintable(t.day.toString());
        EXPECT_EQ(cell->expected, t.expected) << qPrintable(t.day.toString()) << " " << t.instants;
        EXPECT_EQ(cell->whole, t.whole) << qPrintable(t.day.toString()) << " " << t.instants;
        // Every other day has no count: missing, never whole.
        EXPECT_EQ(std::count_if(days.begin(), days.end(),
                                [](const DayCell &d) { return d.instants == 0 && !d.whole; }),
                  kStripDays - 1);
    }
}

TEST_F(Site, theStripFromTheStoreShowsADayWithAMissingQuarterHourAsShortAndADayWithNoneAsMissing)
{
    settings.stations = {station("north")};
    // 2 December whole, 3 December without its 10:00, 4 December with none, 5 December whole again.
    std::vector<StoredReading> readings;
    for (const QDate day : {QDate(2026, 12, 2), QDate(2026, 12, 3), QDate(2026, 12, 5)})
        for (int q = 0; q < 96; ++q)
            if (!(day == QDate(2026, 12, 3) && q == 40))
                readings.push_back(
                    reading("north", 1, QDateTime(day, QTime(0, 0), Qt::UTC).addSecs(q * 900), q));
    put(run("north", kNow.addSecs(-3600), {}, readings));

    const QJsonObject row = stationsJson()[0].toObject();
    ASSERT_TRUE(row["day_counts_kept"].toBool());
    const QJsonArray days = row["days"].toArray();
    ASSERT_EQ(days.size(), kStripDays);
    auto day = [&](const char *date) {
        for (const QJsonValue &d : days)
            if (d.toObject()["date"].toString() == date)
                return d.toObject();
        return QJsonObject();
    };
    EXPECT_EQ(
        day("2026-12-02"),
        QJsonObject({{"date", "2026-12-02"}, {"instants", 96}, {"expected", 96}, {"whole", true}}));
    EXPECT_EQ(day("2026-12-03"),
              QJsonObject(
                  {{"date", "2026-12-03"}, {"instants", 95}, {"expected", 96}, {"whole", false}}));
    EXPECT_EQ(
        day("2026-12-04"),
        QJsonObject({{"date", "2026-12-04"}, {"instants", 0}, {"expected", 0}, {"whole", false}}));
    EXPECT_EQ(days.last().toObject()["date"].toString(), "2026-12-06");
    EXPECT_EQ(row["last_reading"].toString(), "2026-12-05T23:45:00Z");
    const QString page = QString::fromUtf8(get("/").body);
    EXPECT_TRUE(page.contains("<i class=\"d-part\" title=\"2026-12-03: 95 of 96 instants\">"));
    EXPECT_TRUE(page.contains("<i class=\"d-missing\" title=\"2026-12-04: no readings\">"));
}

TEST_F(Site, refusalsSayWhyWithTheirStatus)
{
    settings.stations = {station("north")};
    const struct {
        const char *path, *query;
        int status;
        const char *reason;
    } table[] = {
        {"/nowhere", "", 404, "no such page: /nowhere"},
        {"/station/south", "", 404, "no station named &#39;south&#39;"},
        {"/api/stations/south/readings", "from=2026-12-01T00:00:00Z&to=2026-12-02T00:00:00Z", 404,
         "no station named"},
        {"/api/elsewhere", "", 404, "no such address"},
        {"/api/stations/north/readings", "from=2026-12-01T00:00:00&to=2026-12-02T00:00:00Z", 400,
         "'from' is not a zoned ISO 8601 time: '2026-12-01T00:00:00'"},
        {"/api/stations/north/readings", "from=2026-12-01T00:00:00Z&to=yesterday", 400,
         "'to' is not a zoned"},
        {"/api/stations/north/readings", "to=2026-12-02T00:00:00Z", 400, "'from' is missing"},
        {"/api/stations/north/readings", "from=2026-12-02T00:00:00Z&to=2026-12-01T00:00:00Z", 400,
         "is before"},
        {"/api/stations/north/readings",
         "from=2026-12-01T00:00:00Z&to=2026-12-02T00:00:00Z&format=xlsx", 400,
         "unknown format 'xlsx': csv, iso-csv or influx"},
    };
    for (const auto &t : table) {
        const SiteResponse r = get(t.path, t.query);
        EXPECT_EQ(r.status, t.status) << t.path << "?" << t.query;
        EXPECT_TRUE(r.body.contains(t.reason))
            << t.path << "?" << t.query << ": " << r.body.constData();
    }
}

TEST_F(Site, aDownloadIsTheExportOfTheSameReadingsInEachFormat)
{
    settings.stations = {station("north")};
    std::vector<StoredReading> readings;
    // Across the autumn clock change, two channels, one with a comma in its label.
    for (int i = 0; i < 12; ++i) {
        const QDateTime at = utcFromText("2026-10-25T00:00:00Z").addSecs(i * 900);
        readings.push_back(reading("north", 1, at, i * 1.5, "Level, m", "m"));
        readings.push_back(reading("north", 2, at, 100 - i, "Flow (l/s)", "l/s"));
    }
    put(run("north", kNow.addSecs(-3600), {}, readings));
    // From 00:30 (inclusive) to 01:30 (exclusive), as the local times give them.
    const std::vector<StoredReading> wanted(readings.begin() + 4, readings.begin() + 12);
    for (const auto format :
         {ExportFormat::IsoCsv, ExportFormat::WindowCsv, ExportFormat::Influx}) {
        const char *name = format == ExportFormat::IsoCsv      ? "iso-csv"
                           : format == ExportFormat::WindowCsv ? "csv"
                                                               : "influx";
        const SiteResponse r =
            get("/api/stations/north/readings",
                QStringLiteral("from=2026-10-25T01:30:00%2B01:00&to=2026-10-25T01:30:00Z&format=%1")
                    .arg(name));
        EXPECT_EQ(r.status, 200) << name << r.body.constData();
        EXPECT_EQ(r.body, exportReadings(wanted, format)) << name;
        EXPECT_TRUE(header(r, "Content-Disposition")
                        .startsWith("attachment; filename=\"north_20261025T003000Z_"));
    }
}

TEST_F(Site, aStationPageDrawsItsDaysBrokenAtAGapWithSummaryScattergraphAndCollections)
{
    Station north = station("north");
    north.survey.roles = {1, 2, 0, 0};
    north.survey.pipe.diameterM = 0.6;
    settings.stations = {north};
    std::vector<StoredReading> readings;
    // Two days of depth and velocity with the hours 06:00-09:00 of the first missing.
    for (int q = 0; q < 192; ++q) {
        if (q >= 24 && q < 36)
            continue;
        const QDateTime at = utcFromText("2026-12-05T00:00:00Z").addSecs(q * 900);
        const double depth = 100 + 50 * std::sin(q / 10.0 + 1);
        readings.push_back(reading("north", 1, at, depth, "Level", "mm"));
        readings.push_back(
            reading("north", 2, at, 0.5 * std::pow(depth / 150, 0.66), "Velocity", "m/s"));
    }
    put(run("north", kNow.addSecs(-7200), {}, readings));
    put(run("north", kNow.addSecs(-3600), "CRC error in reply", {}, kNow.addSecs(-7200)));

    const SiteResponse r = get("/station/north");
    ASSERT_EQ(r.status, 200);
    const QString page = QString::fromUtf8(r.body);
    // Depth and velocity, and the flow they give in a pipe of known diameter.
    EXPECT_EQ(page.count("<svg class=\"hydrograph\""), 3);
    EXPECT_TRUE(page.contains("Depth (mm)"));
    EXPECT_TRUE(page.contains("Flow (from depth and velocity) (l/s)"));
    // Each line restarts after the gap: one move to start, one after the gap.
    const qsizetype pathAt = page.indexOf("<path d=\"");
    const QString path = page.mid(pathAt, page.indexOf("\"", pathAt + 9) - pathAt);
    EXPECT_EQ(path.count('M'), 2) << qPrintable(path);
    EXPECT_TRUE(page.contains("<td>2026-12-05T06:00:00+00:00</td><td>2026-12-05T08:45:00+00:00</"
                              "td><td class=\"num\">12</td>"))
        << "the gap's row: " << qPrintable(page.mid(page.indexOf("<h2>Gaps"), 700));
    EXPECT_TRUE(page.contains("<td>2026-12-05</td>"));
    EXPECT_TRUE(page.contains("<svg class=\"scattergraph\""));
    EXPECT_TRUE(page.contains("<tr><td>Lanfear-Coll</td><td class=\"num\">"));
    EXPECT_TRUE(page.contains("<tr><td>Stevens-Schutzbach</td><td class=\"num\">"));
    EXPECT_TRUE(page.contains("CRC error in reply"));
    EXPECT_TRUE(page.contains("format=influx"));
}

TEST_F(Site, aMeterThatCallsInShowsItsConnectionAndOneWeCallShowsNone)
{
    const struct {
        const char *name;
        std::optional<bool> connectedSecondsAgo; // none: never called in
        int recordedSecondsAgo;
        QJsonValue connected;
        const char *connection;
    } table[] = {
        {"up", true, 30, true, "connected"},
        {"down", false, 30, false, "not connected"},
        {"silent-listener", true, 900, QJsonValue::Null, "unconfirmed"},
        {"never", std::nullopt, 0, false, "never called in"},
    };
    std::vector<CallInState> lines;
    for (const auto &t : table) {
        Station s = station(t.name);
        s.callIn = CallIn{};
        settings.stations.push_back(s);
        put(run(t.name, kNow.addSecs(-600)));
        if (t.connectedSecondsAgo)
            lines.push_back({t.name, *t.connectedSecondsAgo, "192.0.2.7:40112", kNow.addSecs(-3600),
                             kNow.addSecs(-t.recordedSecondsAgo),
                             kNow.addSecs(-t.recordedSecondsAgo)});
    }
    settings.stations.push_back(station("called"));
    ASSERT_TRUE(store->recordCallInStates(lines, &error)) << qPrintable(error);

    QHash<QString, QJsonObject> rows;
    for (const QJsonValue &row : stationsJson())
        rows.insert(row.toObject()["name"].toString(), row.toObject());
    for (const auto &t : table) {
        EXPECT_EQ(rows[t.name]["connected"], t.connected) << t.name;
        EXPECT_EQ(rows[t.name]["connection"].toString(), t.connection) << t.name;
    }
    EXPECT_TRUE(rows["called"]["connected"].isNull());
    EXPECT_TRUE(rows["called"]["connection"].isNull());
}

TEST_F(Site, aStoreWithoutDayCountsSaysSoRatherThanDrawingNinetyMissingDays)
{
    settings.stations = {station("north")};
    put(run("north", kNow.addSecs(-600)));
    const QJsonObject row = stationsJson()[0].toObject();
    EXPECT_FALSE(row["day_counts_kept"].toBool());
    EXPECT_TRUE(row["days"].toArray().isEmpty());
    const QByteArray page = get("/").body;
    EXPECT_TRUE(page.contains("no day counts in the store"));
    EXPECT_FALSE(page.contains("<i class=\"d-missing\" title"));
}

TEST(Strip, aDayCountedWhenAnOlderStoreWasTakenUpIsMeasuredByTheStationsKnownInterval)
{
    const QTimeZone london("Europe/London");
    const std::vector<DayCount> counts{
        {"a", {2026, 10, 20}, 96, 0}, // taken up: no interval of its own
        {"a", {2026, 10, 21}, 95, 0},
        {"a", {2026, 11, 1}, 96, 900}};
    const std::vector<DayCell> days =
        stripDays(counts, QDate(2026, 11, 2), london, MeterClock::Local);
    const auto cell = [&](const QDate &date) {
        return *std::find_if(days.begin(), days.end(),
                             [&](const DayCell &d) { return d.date == date; });
    };
    EXPECT_TRUE(cell({2026, 10, 20}).whole);
    EXPECT_EQ(cell({2026, 10, 20}).expected, 96);
    EXPECT_FALSE(cell({2026, 10, 21}).whole);
}

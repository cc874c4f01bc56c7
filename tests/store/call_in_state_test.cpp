#include "store/reading_store.h"
#include "store/store_open.h"
#include "postgres_server.h"
#include "store_kinds.h"
#include "qt_printers.h"

#include <QFile>
#include <QTemporaryDir>
#include <libpq-fe.h>
#include <sqlite3.h>

using namespace ostrand::collect;
using ostrand::testing::PostgresServer;

namespace {

PostgresServer &server = PostgresServer::instance();

// The first schema as the version before call-in lines wrote it, kept here in its own words.
QByteArray versionOneSchema(StoreLocation::Kind kind)
{
    const bool sqlite = kind == StoreLocation::Kind::Sqlite;
    QByteArray schema = R"(
CREATE TABLE schema_version (version INTEGER NOT NULL);
CREATE TABLE readings (station TEXT NOT NULL, channel INTEGER NOT NULL, label TEXT NOT NULL, unit TEXT NULL,
    time_utc T NOT NULL, time_local TEXT NOT NULL, value DOUBLE PRECISION NOT NULL,
    PRIMARY KEY (station, channel, time_utc)) K;
CREATE TABLE clashes (station TEXT NOT NULL, channel INTEGER NOT NULL, label TEXT NOT NULL, unit TEXT NULL,
    time_utc T NOT NULL, time_local TEXT NOT NULL, value DOUBLE PRECISION NOT NULL);
CREATE TABLE stations (name TEXT PRIMARY KEY, port TEXT, timezone TEXT, last_attempt_utc T, last_ok_utc T,
    last_error TEXT NULL);
CREATE TABLE collections (station TEXT NOT NULL, started_utc T NOT NULL, finished_utc T NOT NULL,
    result TEXT NOT NULL, new_readings INTEGER NOT NULL, attempts INTEGER NOT NULL, error TEXT NULL);
CREATE INDEX collections_started ON collections (started_utc);
CREATE TABLE collection_cursors (station TEXT PRIMARY KEY, cursor TEXT NOT NULL);
INSERT INTO schema_version VALUES (1);
INSERT INTO readings VALUES ('north', 1, 'Flow', 'GPM', '2026-10-25T00:15:00Z', '2026-10-25 01:15:00', 12.5);
INSERT INTO stations VALUES ('north', 'COM1', 'Europe/London', '2026-10-25T00:20:00Z', '2026-10-25T00:20:00Z', NULL);
)";
    return schema.replace(" T ", sqlite ? " TEXT " : " TIMESTAMPTZ ")
        .replace(" T,", sqlite ? " TEXT," : " TIMESTAMPTZ,")
        .replace(" K;", sqlite ? " WITHOUT ROWID;" : ";");
}

// Statements run around the store's own code, as another program (or an older version) would.
class RawDatabase {
public:
    explicit RawDatabase(const StoreLocation &location) : location_(location)
    {
        if (location.kind == StoreLocation::Kind::Sqlite)
            sqlite3_open(QFile::encodeName(location.target), &sqlite_);
        else
            pg_ = PQconnectdb(location.target.toUtf8().constData());
    }
    ~RawDatabase()
    {
        if (sqlite_)
            sqlite3_close(sqlite_);
        if (pg_)
            PQfinish(pg_);
    }
    bool exec(const QByteArray &sql)
    {
        if (sqlite_)
            return sqlite3_exec(sqlite_, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        PGresult *r = PQexec(pg_, sql.constData());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        PQclear(r);
        return ok;
    }
    // The first column of the first row, "" when there is none or the query failed.
    QString value(const QByteArray &sql)
    {
        QString text;
        if (sqlite_) {
            sqlite3_stmt *select = nullptr;
            if (sqlite3_prepare_v2(sqlite_, sql.constData(), -1, &select, nullptr) == SQLITE_OK
                && sqlite3_step(select) == SQLITE_ROW)
                text = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(select, 0)));
            sqlite3_finalize(select);
            return text;
        }
        PGresult *r = PQexec(pg_, sql.constData());
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0)
            text = QString::fromUtf8(PQgetvalue(r, 0, 0));
        PQclear(r);
        return text;
    }
    QString version() { return value("SELECT version FROM schema_version"); }
    bool hasCallInLines()
    {
        return location_.kind == StoreLocation::Kind::Sqlite
                   ? value("SELECT count(*) FROM sqlite_master WHERE name = 'call_in_lines'") == "1"
                   : value("SELECT to_regclass('call_in_lines') IS NOT NULL") == "t";
    }

private:
    StoreLocation location_;
    sqlite3 *sqlite_ = nullptr;
    PGconn *pg_ = nullptr;
};

class CallInStore : public ::testing::TestWithParam<StoreLocation::Kind> {
protected:
    StoreLocation newStore(const char *name)
    {
        return {GetParam(), GetParam() == StoreLocation::Kind::Sqlite ? dir_.filePath(QString(name) + ".db")
                                                                      : server.newDatabase(name)};
    }
    StoreLocation versionOneStore(const char *name)
    {
        const StoreLocation location = newStore(name);
        EXPECT_TRUE(RawDatabase(location).exec(versionOneSchema(GetParam()))) << name;
        return location;
    }

private:
    QTemporaryDir dir_;
};

QDateTime at(const char *time)
{
    return QDateTime::fromString(time, Qt::ISODate).toUTC();
}

CallInState line(const char *station, bool connected, const char *peer, const char *since, const char *heard)
{
    return {station, connected, peer, at(since), at(heard), at(heard).addSecs(5)};
}

QStringList summary(const std::vector<CallInState> &states)
{
    QStringList lines;
    for (const CallInState &s : states)
        lines << QString("%1 %2 %3 since %4 heard %5 recorded %6")
                     .arg(s.station, s.connected ? "connected" : "not-connected", s.peer, utcText(s.sinceUtc),
                          utcText(s.heardUtc), utcText(s.recordedUtc));
    return lines;
}

} // namespace

// A reader (status, export) reads a version-1 store as it is; the first collector takes it up, in one go.
TEST_P(CallInStore, aVersionOneStoreIsReadAsItIsAndTakenUpToVersionTwoByACollectorWithItsReadingsKept)
{
    const StoreLocation location = versionOneStore("oldstore");
    QString error;
    {
        auto reader = openStoreReader(location, &error);
        ASSERT_TRUE(reader) << qPrintable(error);
        const auto lines = reader->callInStates(&error);
        ASSERT_TRUE(lines) << qPrintable(error);
        EXPECT_TRUE(lines->empty());
        ASSERT_EQ(reader->stations(&error).value().size(), 1u);
    }
    RawDatabase raw(location);
    EXPECT_EQ(raw.version(), "1");
    EXPECT_FALSE(raw.hasCallInLines());

    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    EXPECT_EQ(raw.version(), QString::number(kStoreSchemaVersion));
    EXPECT_EQ(raw.value("SELECT count(*) FROM schema_version"), "1");
    const auto readings = store->readings({"north", {}, {}, {}}, &error);
    ASSERT_TRUE(readings && readings->size() == 1) << qPrintable(error);
    EXPECT_EQ((*readings)[0].value, 12.5);
    EXPECT_EQ((*readings)[0].timeUtc, at("2026-10-25T00:15:00Z"));
    EXPECT_EQ(store->stations(&error).value().at(0).lastOkUtc, at("2026-10-25T00:20:00Z"));
    const CallInState north = line("north", true, "192.0.2.7:40112", "2026-12-07T07:12:03Z", "2026-12-07T07:59:40Z");
    ASSERT_TRUE(store->recordCallInStates({north}, &error)) << qPrintable(error);
    // A second collector finds it taken up already and changes nothing.
    ASSERT_TRUE(openReadingStore(location, &error)) << qPrintable(error);
    auto reader = openStoreReader(location, &error);
    ASSERT_TRUE(reader) << qPrintable(error);
    EXPECT_EQ(summary(reader->callInStates(&error).value()), summary({north}));
}

// A store of a version this program does not know is left alone, by collectors and readers alike.
TEST_P(CallInStore, aStoreOfALaterVersionIsRefusedAndLeftAsItWas)
{
    const StoreLocation location = versionOneStore("newerstore");
    ASSERT_TRUE(RawDatabase(location).exec("UPDATE schema_version SET version = 5"));
    QString error;
    EXPECT_FALSE(openReadingStore(location, &error));
    EXPECT_TRUE(error.contains("holds schema version 5, this program writes version 4")) << qPrintable(error);
    error.clear();
    EXPECT_FALSE(openStoreReader(location, &error));
    EXPECT_TRUE(error.contains("holds schema version 5, this program writes version 4")) << qPrintable(error);
    RawDatabase raw(location);
    EXPECT_EQ(raw.version(), "5");
    EXPECT_FALSE(raw.hasCallInLines());
}

// Each news replaces the station's row, but the end of a call another collector has since
// seen replaced (the router moved to another host before the first noticed) does not.
TEST_P(CallInStore, eachStationKeepsItsNewestCallAndALateEndOfAReplacedCallIsIgnored)
{
    QString error;
    const StoreLocation location = newStore("lines");
    auto store = openReadingStore(location, &error);
    ASSERT_TRUE(store) << qPrintable(error);
    const CallInState southUp = line("south", true, "[2001:db8::5]:7001", "2026-12-07T06:00:00Z", "2026-12-07T06:00:00Z");
    const CallInState up = line("north", true, "192.0.2.7:40112", "2026-12-07T07:00:00Z", "2026-12-07T07:00:00Z");
    const CallInState heard = line("north", true, "192.0.2.7:40112", "2026-12-07T07:00:00Z", "2026-12-07T07:01:00Z");
    const CallInState down = line("north", false, "192.0.2.7:40112", "2026-12-07T07:02:00Z", "2026-12-07T07:01:30Z");
    const CallInState elsewhere = line("north", true, "198.51.100.4:5000", "2026-12-07T07:03:00Z", "2026-12-07T07:03:00Z");
    const CallInState lateEnd = line("north", false, "192.0.2.9:41000", "2026-12-07T07:04:00Z", "2026-12-07T07:02:50Z");
    const CallInState endElsewhere = line("north", false, "198.51.100.4:5000", "2026-12-07T07:05:00Z", "2026-12-07T07:04:30Z");
    const struct {
        std::vector<CallInState> recorded;
        CallInState north;
    } steps[] = {
        {{up, southUp}, up},
        {{heard}, heard},
        {{down}, down},
        {{elsewhere}, elsewhere},
        {{lateEnd}, elsewhere},
        {{endElsewhere}, endElsewhere},
    };
    for (const auto &step : steps) {
        ASSERT_TRUE(store->recordCallInStates(step.recorded, &error)) << qPrintable(error);
        auto reader = openStoreReader(location, &error);
        ASSERT_TRUE(reader) << qPrintable(error);
        const auto lines = reader->callInStates(&error);
        ASSERT_TRUE(lines) << qPrintable(error);
        EXPECT_EQ(summary(*lines), summary({step.north, southUp}));
    }
}

INSTANTIATE_TEST_SUITE_P(Store, CallInStore, kBothStoreKinds);

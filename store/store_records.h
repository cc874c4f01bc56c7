#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>
#include <vector>

namespace ostrand::collect {

// One stored reading: a channel's value at one logging instant.
struct StoredReading {
    QString station;
    int channel = 0;      // 1-8: labels change, repeat or are empty
    QString label;        // the channel's label when read
    QString unit;         // empty when the meter gave none
    QDateTime timeUtc;    // Qt::UTC
    QString timeLocal;    // the meter's own stamp, "YYYY-MM-DD HH:MM:SS", after the midnight rule
    double value = 0;
};

// One station's attempt in one run.
struct CollectionRow {
    QString station;
    QDateTime startedUtc;
    QDateTime finishedUtc;
    QString result; // "ok", "failed" or "skipped"
    int newReadings = 0;
    int attempts = 0;
    QString error; // empty when none
};

struct StationRow {
    QString name;
    QString port;
    QString timezone; // IANA name, e.g. "Europe/London"
    std::optional<QDateTime> lastAttemptUtc;
    std::optional<QDateTime> lastOkUtc;
    QString lastError;
};

// A station whose meter calls in: its router's connection as the listener last recorded it.
struct CallInState {
    QString station;
    bool connected = false;
    QString peer;          // the caller's address; when not connected, that of the last call
    QDateTime sinceUtc;    // connected: when the call began; not connected: when it ended
    QDateTime heardUtc;    // the router's last byte, heartbeats included
    QDateTime recordedUtc; // when the listener wrote it: at least once a minute while connected
};

// How many instants a collection stored for a station on one of its days
// (the meter's own date), kept with the readings in their transaction so the
// status page need not count a year of readings to draw completeness.
struct DayCount {
    QString station;
    QDate day;               // the meter's local date
    int instants = 0;        // distinct logging instants stored that day
    int intervalSeconds = 0; // the log interval the station's readings showed; 0: not known
};

// What waits in the outbox to be published for one station.
struct OutboxBacklog {
    QString station;
    qint64 readings = 0;
    QDateTime oldestQueuedUtc; // when the oldest of them was stored
};

// Which readings an export or a query wants.
struct ReadingQuery {
    QString station;
    std::optional<int> channel;
    std::optional<QDateTime> fromUtc; // inclusive
    std::optional<QDateTime> toUtc;   // exclusive
};

// What the health report and the exports read, whatever database holds it.
class StoreReader {
public:
    virtual ~StoreReader() = default;
    // Ordered by time, then channel. nullopt with *error set when the database would not answer.
    virtual std::optional<std::vector<StoredReading>> readings(const ReadingQuery &query, QString *error) = 0;
    virtual std::optional<std::vector<StationRow>> stations(QString *error) = 0;
    // Runs that started at or after `sinceUtc`, oldest first.
    virtual std::optional<std::vector<CollectionRow>> collections(const QDateTime &sinceUtc, QString *error) = 0;
    // Every call-in line recorded, by station. A store made before they were
    // kept holds none, and neither does a reader that keeps no lines.
    virtual std::optional<std::vector<CallInState>> callInStates(QString *)
    {
        return std::vector<CallInState>{};
    }
    // What waits to be published, per station; none in a store made before
    // the outbox was kept, or with nothing waiting.
    virtual std::optional<std::vector<OutboxBacklog>> outboxBacklog(QString *)
    {
        return std::vector<OutboxBacklog>{};
    }
    // Each station of the stations table's newest reading instant, found
    // through the reading key channel by channel so a fleet's page need not
    // read its readings; a station without readings is left out, and so is
    // every station by a reader that cannot tell.
    virtual std::optional<QHash<QString, QDateTime>> newestReadings(QString *)
    {
        return QHash<QString, QDateTime>{};
    }
    // Every station's day counts from `fromDay` on, by station then day. A
    // store made before they were kept holds none.
    virtual std::optional<std::vector<DayCount>> dayCounts(const QDate &fromDay, QString *)
    {
        Q_UNUSED(fromDay);
        return std::vector<DayCount>{};
    }
};

} // namespace ostrand::collect

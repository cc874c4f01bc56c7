#pragma once

#include "store/store_location.h"
#include "store/store_records.h"
#include "store/store_schema.h"
#include "store/time_text.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace ostrand::collect {

// All a station's run leaves in the store, committed together or not at all.
struct StationWrite {
    StationRow station;
    CollectionRow collection;
    std::vector<StoredReading> readings; // in the order the meter logged them
    QString cursor;                      // the station's new collection cursor; empty: kept as it is
    bool publish = false;                // the readings inserted also wait in the outbox to be published
};

// A stored reading still to be published, with its place in the outbox.
struct OutboxEntry {
    qint64 id = 0;
    StoredReading reading;
    QDateTime queuedUtc;
};

struct WriteResult {
    int inserted = 0;
    int duplicates = 0;                  // already stored with the same value: skipped
    std::vector<StoredReading> clashes;  // already stored with another value: kept in `clashes`
};

// What the store remembers of a station for its next run.
struct StationMemory {
    QString cursor;                         // empty: none yet, the whole log is wanted
    std::optional<QDateTime> lastReadingUtc; // the latest reading stored
};

// Who opens a store: a collector, which takes a store of an older schema up
// to this program's, or a reader (status, export, the status page), whose
// connection is read-only and reads it as it is.
enum class StoreUse { Collecting, Reading };

// What became of a claim on a station for one collector's run.
enum class StationClaim {
    Taken,            // this connection holds it until released or closed
    HeldElsewhere,    // another collector is at it now
    AlreadyCollected, // collected since the given time, by whichever collector
};

// A connection to the readings database, for one thread at a time; each
// collecting thread opens its own.
class ReadingStore : public StoreReader {
public:
    // storeName of its location: for messages, never a password.
    virtual QString name() const = 0;
    virtual std::optional<StationMemory> remembered(const QString &station, QString *error) = 0;
    // One transaction: the readings, the collections row, the stations row and the cursor.
    virtual std::optional<WriteResult> write(const StationWrite &write, QString *error) = 0;
    // Several collectors sharing a store: the station is claimed for this
    // connection unless another holds it or it was collected since `sinceUtc`.
    // A claim lasts until released or until the connection ends, however it ends.
    virtual std::optional<StationClaim> claim(const QString &station, const QDateTime &sinceUtc, QString *error) = 0;
    virtual void releaseClaim(const QString &station) = 0;
    // The listener's news of its callers, each station's row replaced
    // (inserted the first time), all in one transaction.
    virtual bool recordCallInStates(const std::vector<CallInState> &states, QString *error) = 0;
    // What waits to be published, oldest first, `limit` at most; `station`
    // empty: every station's.
    virtual std::optional<std::vector<OutboxEntry>> outbox(const QString &station, int limit, QString *error)
    {
        Q_UNUSED(station);
        Q_UNUSED(limit);
        *error = QStringLiteral("this store keeps no outbox");
        return std::nullopt;
    }
    // Takes entries out once the broker has acknowledged them; ids no longer
    // there are no error (another publisher took them first).
    virtual bool removeFromOutbox(const std::vector<qint64> &ids, QString *error)
    {
        Q_UNUSED(ids);
        *error = QStringLiteral("this store keeps no outbox");
        return false;
    }
    // The time now by the database's own clock (the server's, for a server),
    // so collectors on several hosts compare times from one clock.
    virtual std::optional<QDateTime> databaseNowUtc(QString *error) = 0;
};

// Connects and creates the tables in an empty database (one holding another
// program's tables, or a schema version this program does not know, is
// refused; a store already set up is only read, but one of an older version
// is first taken up to this one, in one transaction); null with *error naming the database and its reason when
// that fails. A PostgreSQL server is waited for connect_timeout (10 s unless the
// url sets it), a statement statement_timeout (60 s), then given up on.
// The back-end is the one store_backends.cpp lists for the location's kind.
std::unique_ptr<ReadingStore> openReadingStore(const StoreLocation &location, QString *error);

} // namespace ostrand::collect

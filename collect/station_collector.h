#pragma once

#include "collect/stations_file.h"
#include "store/store_location.h"
#include "store/store_records.h"

#include <QDateTime>
#include <QStringList>
#include <optional>
#include <vector>
#include <memory>

namespace ostrand {
class MeterLink;
}

namespace ostrand::collect {

class LineSource;
class StationLine;
class ReadingSink;
struct NewReadings;
class StoreSink;
enum class StationClaim;

// How one station's collection ended.
struct StationReport {
    QString name;
    bool succeeded = false;
    int newRows = 0;
    int attempts = 0;
    int recordsMaybeLost = 0; // the log was overwritten past what was collected last
    double seconds = 0;
    QStringList errors; // why each failed attempt failed, and warnings of a good one
    QString skipped;    // why the station was not tried at all; empty when it was
    bool claimedElsewhere = false; // with claims: another collector is at it now; ask again later
    // With a store:
    int newReadings = 0;       // readings it gained
    int duplicates = 0;        // read again with the values it holds: skipped
    int clashes = 0;           // read again with other values: kept in its clashes table
    int skippedHourStamps = 0; // stamps in the hour the clock skips in spring
    // With [publish], after the run: its readings still waiting to be published; none: none wait.
    std::optional<OutboxBacklog> unpublished;
};

struct CollectOptions {
    int retries = 2;             // further attempts after a failed one
    int retryPauseMs = 10000;    // between attempts: a meter or a modem busy now may not be soon
    QStringList comLinkDirs;     // where COMn links are looked for
    std::optional<StoreLocation> store; // where readings go besides the CSV files; none: the files alone
    // The readings the store gains also wait in its outbox, to be published once committed.
    bool publish = false;
    // Several collectors share the store's stations: each is claimed there
    // first, and one collected by any of them since `startedUtc` (the run's
    // start by the store's clock) is skipped.
    bool claim = false;
    QDateTime startedUtc;
    // How long a station another collector holds is waited for before it is
    // left to that one: a collector stuck on it must not keep this run for ever.
    qint64 claimWaitMs = 600000;
    // A collector that runs on (one that meters call): "collected since"
    // counts from each station's operation, by the store's clock, not from `startedUtc`.
    bool claimSinceEachOperation = false;
    // Each station is locked in this stations file while it is collected; empty: no lock.
    QString stationsPath;
};

// Why a station was left alone: another collection from the stations file holds it.
QString lockedElsewhereText();

// How often a station another collector holds is asked for again.
constexpr int kClaimPollMs = 1000;

// Why a station was left to another collector after `waitedMs` of asking for it.
QString heldElsewhereText(qint64 waitedMs);

// Collects stations that share one line, one after another, on the calling
// thread; the port, the clock and the waits are its own, so collectors of
// other lines can run on other threads at the same time.
class PortCollector {
public:
    // Over lines it opens itself: the station's port, a device server, a modem's call.
    explicit PortCollector(const CollectOptions &options);
    // Over the lines `lines` hands it, a meter's call accepted, say; each is
    // collected as one it had opened.
    PortCollector(const CollectOptions &options, std::unique_ptr<LineSource> lines);
    ~PortCollector();

    // With claims, a station another collector is at comes back at once,
    // marked claimedElsewhere, and one already collected comes back skipped.
    // The claim is let go during each pause between attempts and taken again
    // after it; a station another collector took and collected meanwhile, or
    // holds longer than the claim wait, comes back skipped.
    // A "Since Last Time" download (a full one while the output does not exist),
    // its new rows appended to the output and, with a store, its readings and
    // the run committed there, then the meter's confirmation; the whole
    // retried as the options say. With a store, the store's cursor decides
    // where the download begins, and a station that failed has its run
    // recorded there too. The port is closed, and a dialled line
    // hung up, before it returns.
    StationReport collect(const Station &station);

private:
    bool attempt(const Station &station, StationReport &report, bool *retryable);
    // One download over a line already open, its readings to the sinks, then the confirmation.
    bool collectOver(MeterLink &link, const Station &station, StationReport &report, bool *retryable);
    // The readings to every sink, each prepared, then each committed.
    bool handOver(const Station &station, const NewReadings &readings, StationReport &report);
    std::optional<StationClaim> tryClaim(const Station &station, StationReport &report);
    bool claim(const Station &station, StationReport &report);
    bool claimAgain(const Station &station, StationReport &report);
    void releaseClaim(const Station &station);

    CollectOptions options_;
    std::unique_ptr<LineSource> lines_;
    // Where each station's new readings go, in order: the cumulative file, then the store.
    std::vector<std::unique_ptr<ReadingSink>> sinks_;
    StoreSink *store_ = nullptr; // the store's sink, when there is a store
};

} // namespace ostrand::collect

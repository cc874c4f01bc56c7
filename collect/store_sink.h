#pragma once

#include "collect/reading_sink.h"
#include "store/reading_store.h"

#include <QDateTime>
#include <memory>
#include <vector>

namespace ostrand {
class Clock;
}

namespace ostrand::collect {

// The readings store: the station's readings, its run, its row and its
// cursor in one transaction. It also holds the connection the collector's
// claims go through.
class StoreSink : public ReadingSink {
public:
    // The runs are stamped by `clock`.
    StoreSink(const StoreLocation &location, const Clock &clock);
    ~StoreSink() override;

    // A station begins, now: nothing of it is stored yet.
    void startStation();

    bool open(const Station &station, StationReport &report, bool *retryable) override;
    std::optional<LogCursor> resumeAfter() const override { return storeCursor_; }
    bool wantsExactTotals() const override { return true; }
    void prepare(const Station &station, const NewReadings &readings, StationReport &report) override;
    bool commit(const Station &station, StationReport &report) override;
    // A failed station's run is recorded too, for the health report to count.
    void recordFailure(const Station &station, StationReport &report) override;

    // The connection, opened on first use and dropped after a failure; null
    // with report.errors saying why when it cannot be opened.
    ReadingStore *store(StationReport &report);
    // The connection when it is open; null, never opening it, when it is not.
    ReadingStore *connected() const { return store_.get(); }
    // Forgets the connection after a failure, which may have left it in any state.
    void drop() { store_.reset(); }
    // The readings stored from now on also wait in the store's outbox.
    void setPublishing(bool publish) { publish_ = publish; }
    // When this collector committed the station, if it did.
    QDateTime committedUtc() const { return committedUtc_; }

private:
    bool storeRun(const Station &station, StationReport &report, bool ok, const QString &cursor,
                  std::vector<StoredReading> readings);

    StoreLocation location_;
    const Clock &clock_;
    std::unique_ptr<ReadingStore> store_;
    std::optional<StationMemory> memory_;
    std::optional<LogCursor> storeCursor_;
    QDateTime startedUtc_;  // of the station being collected
    bool runStored_ = false; // its collections row is written
    QDateTime committedUtc_;
    bool publish_ = false;
    // Made ready by prepare:
    QString nextCursor_;
    std::vector<StoredReading> readings_;
};

} // namespace ostrand::collect

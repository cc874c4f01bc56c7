#pragma once

#include "download/log_pointers.h"

#include <optional>

namespace ostrand {
class ResultsGrid;
struct GridState;
}

namespace ostrand::collect {

struct Station;
struct StationReport;

// What one download brought, as every sink sees it.
struct NewReadings {
    const ResultsGrid *grid = nullptr; // null: the meter held no records
    const GridState *gridState = nullptr;
    std::optional<LogCursor> resumedAfter; // the record the read went on from; none: the whole log was read
    LogCursor newCursor;                   // the last record now collected; unset when there is none
};

// A place a station's new readings must reach before the meter may forget
// them. The station collector holds them in order (the cumulative file, then
// the store): each opened before the meter is asked, then each prepared, then
// each committed, and only then the meter confirmed; a sink that fails stops
// the confirmation. What must never delay a confirmation (a publisher) is fed
// from the store afterwards, not from here.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;

    // Before the meter is asked: reads what the sink holds of the station.
    // false, with report.errors saying why (and *retryable cleared when
    // another attempt cannot help), when it cannot take readings now.
    virtual bool open(const Station &station, StationReport &report, bool *retryable) = 0;
    // The record after which the sink lacks nothing; nullopt: it wants the whole log.
    virtual std::optional<LogCursor> resumeAfter() const = 0;
    // Whether totals must be kept as the meter gave them, not as the window shows them.
    virtual bool wantsExactTotals() const { return false; }
    // Works out what is new to it; writes nothing.
    virtual void prepare(const Station &station, const NewReadings &readings, StationReport &report) = 0;
    // Writes what prepare made ready, for good; false with report.errors saying why.
    virtual bool commit(const Station &station, StationReport &report) = 0;
    // Every attempt at the station failed.
    virtual void recordFailure(const Station &, StationReport &) {}
};

} // namespace ostrand::collect

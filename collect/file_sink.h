#pragma once

#include "collect/reading_sink.h"
#include "cumulative/collection_cursor.h"

#include <QByteArray>
#include <QString>

namespace ostrand {
class Clock;
}

namespace ostrand::collect {

// The station's cumulative CSV file, its new rows appended, and the cursor file beside it.
class CumulativeFileSink : public ReadingSink {
public:
    // An archived file is named by `clock`'s local time.
    explicit CumulativeFileSink(const Clock &clock) : clock_(clock) {}

    bool open(const Station &station, StationReport &report, bool *retryable) override;
    std::optional<LogCursor> resumeAfter() const override { return fileCursor_; }
    void prepare(const Station &station, const NewReadings &readings, StationReport &report) override;
    bool commit(const Station &station, StationReport &report) override;

private:
    const Clock &clock_;
    bool exists_ = false;
    QByteArray existing_;
    std::optional<LogCursor> fileCursor_;
    // Made ready by prepare:
    bool writes_ = false;
    QByteArray added_;
    int newRows_ = 0;
    bool headingsChanged_ = false;
    bool outputChanges_ = false;
    std::optional<CursorState> nextCursor_;
};

} // namespace ostrand::collect

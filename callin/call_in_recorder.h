#pragma once

#include "collect/stations_file.h"
#include "store/store_location.h"
#include "store/store_records.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace ostrand {
class Clock;
}

namespace ostrand::callin {

// Keeps what the listener hears of each station's connection for the health
// report: in the store's call-in lines through one connection of its own,
// opened when first needed, or, without a store, in a file beside each
// station's output. Station threads only note their news here; a thread of
// the recorder's own writes the newest of each station, so a store that is
// slow or gone never holds a station's line. A failure is told once (until
// a write succeeds again) and is never fatal: the news noted are written at
// the next try.
class CallInRecorder {
public:
    using Complaint = std::function<void(const QString &line)>;

    // `clock` stamps each note (when it was recorded) and must outlive the recorder.
    CallInRecorder(std::optional<collect::StoreLocation> store, const Clock &clock, Complaint complain);
    // Writes what is still noted, waiting kLastWriteMs at most: a listener
    // being stopped must end within seconds even if the store hangs.
    ~CallInRecorder();

    static constexpr int kLastWriteMs = 3000;
    // A failed write is tried again after this, with whatever news came meanwhile.
    static constexpr int kRetryMs = 10000;

    // From any station's thread.
    void note(const collect::Station &station, bool connected, const QString &peer, qint64 sinceUtcMs,
              qint64 heardUtcMs);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    const Clock &clock_;
    std::thread writer_;
};

} // namespace ostrand::callin

#pragma once

#include "palm/palm_conversion.h"
#include "palm/palm_job_guard.h"

#include <QString>
#include <atomic>

namespace ostrand {

// How a Palm button's operation went.
struct PalmOutcome {
    enum class Start {
        Refused,    // another grid operation was running: nothing happened
        NeedsModId, // "Modbus ID of meter" with an empty list text: "Enter ModID" shown
        Ran,
    };
    Start start = Start::Refused;
    DownloadResult result = DownloadResult::Complete; // when it ran
    bool fileFailed = false; // converted, but the output file could not be written
    QString status;          // the last status text shown; empty when refused
};

// The two Palm buttons of the Download tab while "Use Palm DataBase" is ticked,
// with the lock that keeps a second one from starting while one runs.
class PalmImport {
public:
    PalmImport(ResultsGrid &grid, GridState &state, EventPump &pump, const Clock &clock);

    // The flag a Stop click sets while a conversion runs; not owned.
    void setStopFlag(const std::atomic<bool> *stopRequested) { stopRequested_ = stopRequested; }
    // Whether a Palm operation (or another holder of jobLock()) is running.
    bool busy() const { return lock_.busy(); }
    // The lock, for a serial download to hold as well.
    PalmJobLock &jobLock() { return lock_; }

    // "Download Data": clears the grid, converts the file, then writes
    // `outputPath` as after a serial download (no confirmation: no meter took part).
    PalmOutcome downloadData(const PalmSource &source, const QString &outputPath,
                             PalmConversionView &view, DownloadDisplay &display);
    // "Get ID List...": adds the file's meter IDs to the list.
    PalmOutcome getIdList(const PalmSource &source, PalmConversionView &view,
                          DownloadDisplay &display);

private:
    PalmContext context(PalmConversionView &view, DownloadDisplay &display);

    ResultsGrid &grid_;
    GridState &state_;
    EventPump &pump_;
    const Clock &clock_;
    PalmJobLock lock_;
    const std::atomic<bool> *stopRequested_ = nullptr;
};

} // namespace ostrand

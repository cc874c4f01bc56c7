#pragma once

#include "download/confirmed_tail.h"
#include "download/download_result.h"
#include "download/log_address.h"
#include "download/log_pointers.h"
#include "link/meter_link.h"
#include "table/grid_state.h"

#include <QString>
#include <array>
#include <atomic>
#include <optional>

namespace ostrand {

class DownloadDisplay;
class ResultsGrid;

struct DownloadOptions {
    bool sinceLastTime = false; // from the record after the last confirmed download
    bool portableMeter = false; // the "R1900 Portable" register layout
    int slave = 1;
    // Set by the caller (a Stop click handled while the download waits); the
    // download ends with Stopped at the next exchange it would begin.
    const std::atomic<bool> *stopRequested = nullptr;
    // A collection's own record of what it stored last: read from the record
    // after it, without asking the meter where its last download stopped.
    // Used only while the log still holds that record; otherwise the whole log.
    std::optional<LogCursor> resumeAfter;
    // The same record kept by another keeper of the readings (a station's file
    // beside the store): the read goes on from whichever of the two lies
    // earlier in the log, so each gets what the other lacks.
    std::optional<LogCursor> otherResumeAfter;
};

// What became of DownloadOptions::resumeAfter.
enum class CursorCheck {
    NotGiven,
    Used,
    OutsideLog,    // the log no longer reaches back to it: overwritten, or the meter was reset
    RecordChanged, // another record stands at its address now
};

// Reads a meter's log into the results grid: the pointer registers, the eight
// channel labels, then the log block by block, and what the meter logged
// while that went on. From the first exchange until the confirmation (or the
// engine's end) the download holds the link and its device.
class DownloadEngine {
public:
    // Shows the link's silent waits on `display` for as long as it lives.
    DownloadEngine(MeterLink &link, ResultsGrid &grid, GridState &state, DownloadDisplay &display);
    ~DownloadEngine();
    DownloadEngine(const DownloadEngine &) = delete;
    DownloadEngine &operator=(const DownloadEngine &) = delete;

    // One download and how it ended. The grid is expected cleared.
    DownloadResult downloadLog(const DownloadOptions &options);

    // Function 0x62 once the file is safe. A confirmation the meter did not
    // acknowledge, or one that would go to a different meter after a reopen,
    // is reported beside the status; the result of the download stands.
    // For a caller that keeps its own cursor: the meter's marker is not read back.
    void confirmDownload();
    // The same, then the meter's last-download marker (function 0x61) read
    // back once the line is quiet: the records from the one after the last
    // read up to the marker went past the download, yet the meter counts them
    // as downloaded now. They are read into the grid (erased slots skipped),
    // shielded from Stop. A marker that did not move to the records read is
    // reported as a confirmation the meter did not take.
    ConfirmedTail confirmDownloadAndReadTail();
    // Reads what the meter logged since the download's last pointer read, for
    // a caller that paused between the log and the file (a question held open).
    // Complete, Stopped or DifferentMeter; a read that fails keeps the rows and
    // leaves the meter unconfirmed, as at the end of the log.
    DownloadResult readLoggedMeanwhile();

    // The last record the grid took from the log; the resume cursor when the
    // download brought nothing new; unset when there is neither.
    const LogCursor &lastRecord() const { return lastRecord_; }
    CursorCheck cursorCheck() const { return cursorCheck_; }
    // The resume cursor the download checked: the earlier of the two when
    // another was given.
    const std::optional<LogCursor> &resumedAfter() const { return options_.resumeAfter; }
    // With CursorCheck::OutsideLog: record slots between the cursor and the
    // log's start now, which may have held readings nobody collected.
    int slotsPastCursor() const { return slotsPastCursor_; }

    // Passes over the channel labels that may bring nothing new before the
    // download gives up on a meter that stopped answering.
    static constexpr int kFruitlessLabelPasses = 5;
    static constexpr int kBlockAttempts = 5;
    // Times the pointers are read again for what was logged during the download.
    static constexpr int kCatchUpPasses = 3;
    // Block reads in a row that brought not a byte, before any was answered,
    // after which a meter that took the pointer read is taken not to do block reads.
    static constexpr int kSilentBlockReads = 2;

private:
    // Channel k's label at k - 1, as the meter holds it.
    using Labels = std::array<QString, kChannelCount>;
    // A block as received, kept to recognise the meter after a reopen.
    struct BlockCopy {
        LogAddress address;
        int words = 0;
        QByteArray bytesBelowEnd;
    };

    // The pointers, and where the read begins and its byte count is taken from.
    DownloadResult readStartPointers(LogAddress &readFrom, LogAddress &countFrom);
    // Whether the log still holds the resume cursor (cursorCheck_); reads its record.
    DownloadResult checkCursor(const LogCursor &cursor);
    // All eight labels as the meter has them ("Not Used" and empty ones too).
    bool readChannelLabels(Labels &labels);
    void takeChannelLabels(const Labels &labels);
    // One block read with its attempts; notes a meter that never answers them.
    Result<QByteArray> readBlock(const LogAddress &address, int words, int attempts);
    Result<QByteArray> readPointerRegisters();
    // After the line was reopened: the pointers, labels and last block read
    // again and compared with what came before. Sends nothing when no reopen happened.
    DownloadResult checkSameMeter();
    DownloadResult readLog(LogAddress address, const LogAddress &end, std::int32_t byteCount, bool showProgress);
    // Reads what was logged after the end pointer the download began with.
    DownloadResult catchUp();
    enum class Confirmation { NotSent, Unacknowledged, Acknowledged };
    // Sends the confirmation to the meter the download began with; NotSent
    // when withheld, or another meter is on a reopened line.
    Confirmation sendConfirmation();
    // After a confirmation: the marker, and the records up to it not yet read.
    ConfirmedTail readConfirmedTail(Confirmation confirmation);
    void noteLastRecord(const LogAddress &blockAddress, const QByteArray &bytes);
    void yield();
    bool stopRequested() const { return options_.stopRequested && *options_.stopRequested; }
    static QString failureText(const LinkFailure &failure);

    MeterLink &link_;
    ResultsGrid &grid_;
    GridState &state_;
    DownloadDisplay &display_;
    DownloadOptions options_;
    std::optional<MeterLink::Hold> operation_;
    // What identifies the meter this download began with.
    LogPointers pointers_;
    LogAddress knownEnd_; // the grid holds the log up to here
    Labels meterLabels_;
    std::optional<BlockCopy> lastBlock_;
    int checkedOpens_ = 0;
    bool blockAnswered_ = false;
    int silentBlockReads_ = 0;
    // The meter is not told of a download whose tail may be missing.
    bool withholdConfirmation_ = false;
    LogCursor lastRecord_;
    CursorCheck cursorCheck_ = CursorCheck::NotGiven;
    int slotsPastCursor_ = 0;
    // A block read under way, for the words of a silent wait: its tries are
    // one wait to whoever watches, as the last try's end is the download's.
    std::int64_t blockStartMs_ = 0;
    std::int64_t tryStartMs_ = 0;
    int triesLeft_ = 0; // this one included; 0 outside a block read of several tries
    ReplyWaitWatcher outerWatcher_; // the link's watcher before this engine's
};

// Byte count and words of the next block: halves go to the even neighbour,
// as the meter firmware's own tools did.
int wordsForBytes(int bytes);

} // namespace ostrand

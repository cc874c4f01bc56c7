#pragma once

#include "download/download_result.h"
#include "download/grid_state.h"
#include "download/log_address.h"

#include <QString>
#include <array>

namespace ostrand {

class DownloadDisplay;
class MeterLink;
class ResultsGrid;

struct DownloadOptions {
    bool sinceLastTime = false; // from the record after the last confirmed download
    bool portableMeter = false; // the "R1900 Portable" register layout
    int slave = 1;
    // Set by the caller (a Stop click handled while the download waits); the
    // download ends with Stopped at the next exchange it would begin.
    const bool *stopRequested = nullptr;
};

// Reads a meter's log into the results grid: the pointer registers, the eight
// channel labels, then the log block by block.
class DownloadEngine {
public:
    DownloadEngine(MeterLink &link, ResultsGrid &grid, GridState &state, DownloadDisplay &display);

    // One download and how it ended. The grid is expected cleared.
    DownloadResult downloadLog(const DownloadOptions &options);

    // Function 0x62 once the file is safe. A confirmation the meter did not
    // acknowledge, or one that would go to a different meter after a reopen,
    // is reported beside the status; the result of the download stands.
    void confirmDownload();

    // The labels read from the meter, channels 1 to 8.
    const std::array<QString, 9> &channelLabels() const { return labels_; }

    // Passes over the channel labels that may bring nothing new before the
    // download gives up on a meter that stopped answering.
    static constexpr int kFruitlessLabelPasses = 5;
    static constexpr int kBlockAttempts = 5;

private:
    using Labels = std::array<QString, 9>;

    bool readPointers(const DownloadOptions &options, LogAddress &start, LogAddress &countFrom, LogAddress &end);
    // All eight labels as the meter has them ("Not Used" and empty ones too).
    bool readChannelLabels(int slave, Labels &labels);
    void takeChannelLabels(const Labels &labels);
    // After the line was reopened: the pointer registers and labels read again
    // and compared with those of the start. Sends nothing when no reopen happened.
    DownloadResult checkSameMeter();
    DownloadResult readLog(int slave, LogAddress address, const LogAddress &end, std::int32_t byteCount);
    void yield();
    bool stopRequested() const { return options_.stopRequested && *options_.stopRequested; }

    MeterLink &link_;
    ResultsGrid &grid_;
    GridState &state_;
    DownloadDisplay &display_;
    std::array<QString, 9> labels_;
    DownloadOptions options_;
    // What identifies the meter this download began with.
    // The pointer registers as read at the start.
    QByteArray pointerRegisters_;
    LogAddress meterStart_;
    Labels meterLabels_;
    int checkedOpens_ = 0;
};

// Byte count and words of the next block: halves go to the even neighbour,
// as the meter firmware's own tools did.
int wordsForBytes(int bytes);

} // namespace ostrand

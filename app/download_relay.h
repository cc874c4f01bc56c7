#pragma once

#include "download/download_display.h"

#include <functional>

namespace ostrand {

class LineWorker;
class ResultsGrid;
struct GridState;

// A download as the window sees it while it runs on the line's thread: every
// status, count and label reaches the tab on the window's thread, and the rows
// decoded into the line's own grid are copied into the window's grid a block
// at a time (the row still growing waits for the next block).
class DownloadRelay : public DownloadDisplay {
public:
    DownloadRelay(LineWorker &line, DownloadDisplay &tab, ResultsGrid &windowGrid, const ResultsGrid &grid,
                  const GridState &state);

    void setStatus(const QString &text) override;
    void setProgress(int percent) override;
    void setTimeLeft(const QString &text) override;
    void setRecordsUsed(const QString &text) override;
    void setRecordsAvailable(const QString &text) override;
    void setChannelLabel(int channel, const QString &text) override;
    void showDetail(const QString &text) override;
    void fileKept(const QString &keptAs) override;
    void setStep(const QString &text) override;
    void setWaiting(const QString &text) override;

    // Copies every row not copied yet, the last one and the column widths
    // included, and the row copied last again (it may have grown).
    void copyAllRows();
    // The window's grid is emptied before the first rows reach it (a
    // conversion that clears the grid only once it knows it will run).
    void clearWindowGridFirst() { clearFirst_ = true; }

private:
    void toTab(std::function<void(DownloadDisplay &)> call);
    void copyRowsBefore(int row);

    LineWorker &line_;
    DownloadDisplay &tab_;
    ResultsGrid &windowGrid_;
    const ResultsGrid &grid_;
    const GridState &state_;
    int copiedTo_ = 0; // rows before this one are in the window's grid
    bool clearFirst_ = false;
};

} // namespace ostrand

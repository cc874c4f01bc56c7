#pragma once

#include <QString>

namespace ostrand {

// What a download shows while it runs: the window's status line, progress
// bar and count boxes, or the command line's output.
class DownloadDisplay {
public:
    virtual ~DownloadDisplay() = default;

    virtual void setStatus(const QString &text) = 0;            // the status line
    virtual void setProgress(int percent) = 0;                  // 0 to 100
    virtual void setRecordsUsed(const QString &text) = 0;       // beside "Records used"
    virtual void setRecordsAvailable(const QString &text) = 0;  // beside "Records available"
    virtual void setChannelLabel(int channel, const QString &text) = 0; // channels 1 to 8
    // A line beside the status: why something failed or what was left out
    // (the window's status bar, the command line's stderr). The status texts
    // stay the ones operators know; this is where the detail goes.
    virtual void showDetail(const QString &text) = 0;
    // How long the download has left, in words ("about 2 min left"), given
    // before each progress step; empty while there is no estimate. A display
    // without room for it ignores it.
    virtual void setTimeLeft(const QString &text) { (void)text; }
    // The file's previous data was kept as `keptAs` before it was replaced:
    // said beside the status as a detail, unless the display has a place of its own.
    virtual void fileKept(const QString &keptAs);
    // What the download does while it reads no log block ("Reading the log's
    // pointers", "Reading channel labels 3 of 8"), shown in place of the
    // percentage; empty gives the percentage back.
    virtual void setStep(const QString &text) { (void)text; }
    // The meter has not answered for a while ("Waiting for the meter: no
    // reply for 12 s (gives up at 30 s)"), shown before anything else; empty
    // once it answers or the exchange ends.
    virtual void setWaiting(const QString &text) { (void)text; }
};

} // namespace ostrand

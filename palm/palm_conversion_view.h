#pragma once

#include <QString>
#include <QStringList>

namespace ostrand {

// The Palm controls of the window as the Palm operations see them: the
// separation choice, the meter-ID list and the "Download Data" button.
// Status line, progress bar and channel boxes go through DownloadDisplay.
class PalmConversionView {
public:
    virtual ~PalmConversionView() = default;

    // Whether "Modbus ID of meter" is selected rather than "Dont Separate".
    virtual bool separateByModId() const = 0;
    // The ID list's text, typed or chosen.
    virtual QString idListText() const = 0;
    // The ID list's entries, in order.
    virtual QStringList idListEntries() const = 0;
    // Appends an entry to the ID list.
    virtual void addIdListEntry(const QString &text) = 0;
    // Enables or disables "Download Data" while a Palm operation runs.
    virtual void setDownloadEnabled(bool enabled) = 0;
};

} // namespace ostrand

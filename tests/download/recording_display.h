#pragma once

#include "download/download_display.h"
#include "palm/palm_conversion_view.h"
#include "table/channel.h"

#include <QStringList>
#include <array>
#include <stdexcept>
#include <vector>

namespace ostrand::testing {

// What a download or a conversion tells the window, recorded. A progress or a channel
// the window has no place for throws, which fails a test and stops a fuzzer.
class RecordingDisplay : public DownloadDisplay {
public:
    void setStatus(const QString &) override {}
    void setProgress(int percent) override
    {
        if (percent < 0 || percent > 100)
            throw std::out_of_range("progress");
    }
    void setRecordsUsed(const QString &text) override { used = text; }
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int channel, const QString &text) override
    {
        if (channel < 1 || channel > kChannelCount)
            throw std::out_of_range("channel");
        labels[channel] = text;
    }
    void showDetail(const QString &text) override { details << text; }

    QStringList details;
    QString used;
    std::array<QString, 9> labels;
};

// The window's Palm controls, recorded.
class RecordingView : public PalmConversionView {
public:
    bool separateByModId() const override { return separate; }
    QString idListText() const override { return listText; }
    QStringList idListEntries() const override { return entries; }
    void addIdListEntry(const QString &text) override { entries << text; }
    void setDownloadEnabled(bool enabled) override { downloadEnabled.push_back(enabled); }

    bool separate = false;
    QString listText;
    QStringList entries;
    std::vector<bool> downloadEnabled;
};

} // namespace ostrand::testing

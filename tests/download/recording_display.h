#pragma once

#include "download/download_display.h"

#include <QStringList>
#include <array>

namespace ostrand::testing {

// What a download or a conversion tells the window, recorded.
class RecordingDisplay : public DownloadDisplay {
public:
    void setStatus(const QString &text) override { statuses << text; }
    void setProgress(int) override {}
    void setRecordsUsed(const QString &text) override { used = text; }
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int channel, const QString &text) override { labels[channel] = text; }
    void showDetail(const QString &text) override { details << text; }

    QStringList statuses, details;
    QString used;
    std::array<QString, 9> labels;
};

} // namespace ostrand::testing

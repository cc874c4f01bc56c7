#pragma once

#include "download/download_display.h"

#include <QStringList>

namespace ostrand::collect {

// Keeps what the engine would have shown: the last status and the reasons beside it.
class QuietDisplay : public DownloadDisplay {
public:
    void setStatus(const QString &text) override { status = text; }
    void setProgress(int) override {}
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &text) override { details << text; }

    // The status with its reasons, as one error text.
    QString failure() const
    {
        return details.isEmpty() ? status : status + QStringLiteral(" (") + details.join(QStringLiteral("; ")) + u')';
    }

    QString status;
    QStringList details;
};

} // namespace ostrand::collect

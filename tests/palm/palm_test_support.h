#pragma once

#include "download/download_display.h"
#include "download/grid_state.h"
#include "download/results_grid.h"
#include "palm/palm_conversion.h"
#include "palm/palm_conversion_view.h"
#include "palm_pdb_builder.h"
#include "virtual_event_pump.h"

#include <QIODevice>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

// Failures show texts rather than their UTF-16 units.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace ostrand::testing
{

// The window's Palm controls, recorded.
class RecordingView : public PalmConversionView
{
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

class RecordingDisplay : public DownloadDisplay
{
public:
    void setStatus(const QString &text) override { statuses << text; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int channel, const QString &text) override { labels[channel] = text; }
    void showDetail(const QString &text) override { details << text; }

    QStringList statuses;
    QStringList details;
    std::vector<int> progress;
    std::array<QString, 9> labels;
};

// A clock on which every look at the monotonic time lets 1 ms pass, as if
// each batch of records took that long to convert.
class TickingClock : public VirtualClock
{
public:
    std::int64_t monotonicMs() const override
    {
        const_cast<TickingClock *>(this)->advance(1);
        return VirtualClock::monotonicMs();
    }
};

// Hands out `data` until `failAt`, then reports a read error.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(QByteArray data, qint64 failAt) : data_(std::move(data)), failAt_(failAt) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = std::min({max, failAt_ - at_, qint64(data_.size()) - at_});
        if (n <= 0)
            return at_ >= failAt_ ? -1 : 0;
        std::memcpy(out, data_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 failAt_;
    qint64 at_ = 0;
};

inline bool isOtherThanZeroOneTwo(DownloadResult result)
{
    return result != DownloadResult::Complete && result != DownloadResult::NoRecords
        && result != DownloadResult::PalmFileMissing;
}

// A Palm file in a temporary folder and everything an operation on it touches.
class PalmTest : public ::testing::Test
{
protected:
    QString pdbPath() const { return dir.filePath(QStringLiteral("PLOGR2.PDB")); }
    void write(const PalmDatabaseBuilder &pdb) { ASSERT_TRUE(pdb.writeTo(pdbPath())); }
    PalmSource source() const { return PalmSource{pdbPath()}; }
    PalmContext context() { return PalmContext{grid, state, view, display, pump, clock}; }
    QStringList row(int r) const { return grid.rowTexts(r).mid(0, 5); }

    QTemporaryDir dir;
    ResultsGrid grid;
    GridState state;
    RecordingView view;
    RecordingDisplay display;
    TickingClock clock;
    VirtualEventPump pump{clock};
};

// 2007-12-`day` at hour:minute.
inline QDateTime at(int day, int hour, int minute)
{
    return QDateTime(QDate(2007, 12, day), QTime(hour, minute));
}

} // namespace ostrand::testing

#include "download_relay.h"

#include "app/line_worker.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QList>
#include <QStringList>
#include <algorithm>
#include <utility>

namespace ostrand {

DownloadRelay::DownloadRelay(LineWorker &line, DownloadDisplay &tab, ResultsGrid &windowGrid,
                             const ResultsGrid &grid, const GridState &state)
    : line_(line), tab_(tab), windowGrid_(windowGrid), grid_(grid), state_(state)
{
}

void DownloadRelay::toTab(std::function<void(DownloadDisplay &)> call)
{
    line_.toWindow([tab = &tab_, call = std::move(call)] { call(*tab); });
}

void DownloadRelay::setStatus(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.setStatus(text); });
}

void DownloadRelay::setProgress(int percent)
{
    // The progress moves once a block: the rows it completed go with it.
    copyRowsBefore(state_.lastGridRow);
    toTab([percent](DownloadDisplay &tab) { tab.setProgress(percent); });
}

void DownloadRelay::setTimeLeft(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.setTimeLeft(text); });
}

void DownloadRelay::setRecordsUsed(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.setRecordsUsed(text); });
}

void DownloadRelay::setRecordsAvailable(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.setRecordsAvailable(text); });
}

void DownloadRelay::setChannelLabel(int channel, const QString &text)
{
    toTab([channel, text](DownloadDisplay &tab) { tab.setChannelLabel(channel, text); });
}

void DownloadRelay::fileKept(const QString &keptAs)
{
    toTab([keptAs](DownloadDisplay &tab) { tab.fileKept(keptAs); });
}

void DownloadRelay::showDetail(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.showDetail(text); });
}

void DownloadRelay::setStep(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.setStep(text); });
}

void DownloadRelay::setWaiting(const QString &text)
{
    toTab([text](DownloadDisplay &tab) { tab.setWaiting(text); });
}

void DownloadRelay::copyRowsBefore(int row)
{
    // Until the engine begins its rows, the state is the one the last download
    // left: only rows this job's grid holds are copied, so none is taken as
    // copied while still empty.
    const int end = std::min({row, grid_.rows(), grid_.lastUsedRow() + 1});
    if (end <= copiedTo_)
        return;
    if (std::exchange(clearFirst_, false))
        line_.toWindow([grid = &windowGrid_] { grid->clear(); });
    QList<QStringList> rows;
    rows.reserve(end - copiedTo_);
    for (int r = copiedTo_; r < end; ++r)
        rows.append(grid_.rowTexts(r));
    const int first = copiedTo_;
    copiedTo_ = end;
    line_.toWindow([grid = &windowGrid_, first, rows = std::move(rows)] {
        const ResultsGrid::BulkUpdate quiet(*grid);
        for (int i = 0; i < rows.size(); ++i)
            grid->setRowTexts(first + i, rows[i]);
    });
}

void DownloadRelay::copyAllRows()
{
    // The row copied last may have grown since (a record of its instant read
    // after it): it goes again.
    copiedTo_ = std::max(copiedTo_ - 1, 0);
    copyRowsBefore(state_.lastGridRow + 1);
    QList<int> widths;
    for (int c = 0; c < grid_.cols(); ++c)
        widths.append(grid_.colWidthTwips(c));
    line_.toWindow([grid = &windowGrid_, widths] {
        for (int c = 0; c < widths.size(); ++c)
            grid->setColWidthTwips(c, widths[c]);
    });
}

} // namespace ostrand

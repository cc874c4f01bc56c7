#include "grid_headings.h"

namespace ostrand {
namespace {

constexpr int kHeadingRow = 1;
constexpr int kRecordColWidth = 1000;
constexpr int kStampColWidth = 1800;
constexpr int kChannelColWidth = 2000;

} // namespace

void setUpGridHeadings(ResultsGrid &grid)
{
    grid.setText(kHeadingRow, 0, QStringLiteral("Record #"));
    grid.setText(kHeadingRow, 1, QStringLiteral("Date / Time"));
}

void setUpChannelHeadings(ResultsGrid &grid, const GridState &state,
                          const std::array<QString, 9> &labels)
{
    for (int k = 1; k <= 8; ++k) {
        if (state.channelInUse[k])
            grid.setText(kHeadingRow, k + 1, labels[k]);
    }
    grid.setColWidthTwips(0, kRecordColWidth);
    grid.setColWidthTwips(1, kStampColWidth);
    for (int col = 2; col <= 9; ++col)
        grid.setColWidthTwips(col, kChannelColWidth);
}

} // namespace ostrand

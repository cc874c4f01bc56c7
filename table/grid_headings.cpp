#include "grid_headings.h"

#include "table/grid_layout.h"

namespace ostrand {
namespace {

constexpr int kRecordColWidth = 1000;
constexpr int kStampColWidth = 1800;
constexpr int kChannelColWidth = 2000;

} // namespace

void setUpGridHeadings(ResultsGrid &grid)
{
    grid.setText(kHeadingRow, kRecordCol, QStringLiteral("Record #"));
    grid.setText(kHeadingRow, kStampCol, QStringLiteral("Date / Time"));
}

void setUpChannelHeadings(ResultsGrid &grid, const GridState &state)
{
    for (int k = 1; k <= kChannelCount; ++k) {
        if (state.channel(k).inUse)
            grid.setText(kHeadingRow, channelCol(k), state.channel(k).label);
    }
    grid.setColWidthTwips(kRecordCol, kRecordColWidth);
    grid.setColWidthTwips(kStampCol, kStampColWidth);
    for (int k = 1; k <= kChannelCount; ++k)
        grid.setColWidthTwips(channelCol(k), kChannelColWidth);
}

} // namespace ostrand

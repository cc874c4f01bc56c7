#include "table/grid_headings.h"
#include "table/output_file.h"
#include "file_bytes.h"
#include "qt_printers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace ostrand {
namespace {

struct Log {
    std::vector<int> channelsInUse;
    std::array<QString, kChannelCount> labels; // channel k's at k - 1
    std::vector<QStringList> rows; // from column 1 on
    int lastGridRow = 0;           // when more rows were begun than the grid holds
};

// A grid as a download leaves it: headings, then one row per instant; every
// channel column holds a value, in use or not, so a stray one would show.
void fill(const Log &log, ResultsGrid &grid, GridState &state)
{
    for (int k = 1; k <= kChannelCount; ++k)
        state.channel(k).label = log.labels[k - 1];
    for (const int k : log.channelsInUse)
        state.channel(k).inUse = true;
    setUpGridHeadings(grid);
    setUpChannelHeadings(grid, state);
    for (const QStringList &texts : log.rows) {
        ++state.lastGridRow;
        grid.setRowTexts(state.lastGridRow,
                         QStringList{QString::number(state.lastGridRow - 1)} + texts);
    }
}

const QStringList kRow1 = {"4/15/2000 9:30:00 AM", "100", "2.5", "7", "", "5", "6", "7", "8"};
const QStringList kRow2 = {"4/15/2000 9:45:00 AM", "101.25", "2.5", "-1E-37", "4"};

TEST(OutputFile, WritesTheStampAndTheChannelsInUseByteForByte)
{
    const struct {
        const char *what;
        Log log;
        QByteArray expected;
    } cases[] = {
        {"two channels",
         {{1, 2}, {"Flow", "Level"}, {kRow1, kRow2}},
         "Date / Time,Flow,Level\r\n4/15/2000 9:30:00 AM,100,2.5\r\n"
         "4/15/2000 9:45:00 AM,101.25,2.5\r\n"},
        {"channel 2 not in use",
         {{3, 1}, {"Flow", "Not Used", "D\u00e9bit \u20ac"}, {kRow1, kRow2}},
         "Date / Time,Flow,D\xe9"
         "bit ?\r\n4/15/2000 9:30:00 AM,100,7\r\n"
         "4/15/2000 9:45:00 AM,101.25,-1E-37\r\n"},
        {"no data rows",
         {{2, 8}, {"", "Level", "", "", "", "", "", "Tot"}, {}},
         "Date / Time,Level,Tot\r\n"},
        {"no channel in use",
         {{}, {"Flow"}, {kRow1, kRow2}},
         "Date / Time\r\n4/15/2000 9:30:00 AM\r\n4/15/2000 9:45:00 AM\r\n"},
        {"rows begun past the grid's last row",
         {{1}, {"Flow"}, {kRow1, kRow2}, 7},
         "Date / Time,Flow\r\n4/15/2000 9:30:00 AM,100\r\n4/15/2000 9:45:00 AM,101.25\r\n"},
        {"a comma in a label",
         {{4, 5}, {"", "", "", "Flow, m3/h", "x"}, {kRow1}},
         "Date / Time,Flow, m3/h,x\r\n4/15/2000 9:30:00 AM,,5\r\n"},
    };
    for (const auto &c : cases) {
        ResultsGrid grid(4, 10);
        GridState state;
        fill(c.log, grid, state);
        state.lastGridRow = std::max(state.lastGridRow, c.log.lastGridRow);
        EXPECT_EQ(outputFileBytes(grid, state), c.expected) << c.what;
    }
}

TEST(OutputFile, AppendsEveryRowUnderMatchingHeadingsAndLeavesAnyOtherFileAsItWas)
{
    const QByteArray heading = "Date / Time,Flow,Level\r\n";
    const QByteArray rows = "4/15/2000 9:30:00 AM,100,2.5\r\n4/15/2000 9:45:00 AM,101.25,2.5\r\n";
    const QByteArray held = heading + "4/15/2000 9:30:00 AM,99,2.5\r\n";
    const struct {
        const char *what;
        std::optional<QByteArray> before; // nothing: no file
        QByteArray after;
        bool appended;
    } cases[] = {
        {"under the file's rows, a stamp it holds too", held, held + rows, true},
        {"a last line without its end", held.chopped(2), held + rows, true},
        {"no file", std::nullopt, heading + rows, true},
        {"an empty file", QByteArray(), heading + rows, true},
        {"other headings", "Date / Time,Flow\r\n1\r\n", "Date / Time,Flow\r\n1\r\n", false},
    };
    for (const auto &c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Logdata.csv"));
        if (c.before)
            testing::writeFileBytes(path, *c.before);
        ResultsGrid grid(4, 10);
        GridState state;
        fill({{1, 2}, {"Flow", "Level"}, {kRow1, kRow2}}, grid, state);
        QString error;
        EXPECT_EQ(appendOutputFile(grid, state, path, &error), c.appended) << c.what;
        EXPECT_EQ(error.isEmpty(), c.appended) << c.what;
        EXPECT_EQ(testing::readFileBytes(path), c.after) << c.what;
    }
}

} // namespace
} // namespace ostrand

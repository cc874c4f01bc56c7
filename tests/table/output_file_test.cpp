#include "table/grid_headings.h"
#include "table/output_file.h"
#include "file_bytes.h"
#include "qt_printers.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <algorithm>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>

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

// A grid filled from `log`, and Logdata.csv's name in a fresh folder.
struct Written {
    explicit Written(const Log &log = {{1}, {"Flow"}, {kRow1}}) { fill(log, grid, state); }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Logdata.csv"));
    ResultsGrid grid{4, 10};
    GridState state;
};

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
        Written w(c.log);
        w.state.lastGridRow = std::max(w.state.lastGridRow, c.log.lastGridRow);
        EXPECT_EQ(outputFileBytes(w.grid, w.state), c.expected) << c.what;
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
        Written w({{1, 2}, {"Flow", "Level"}, {kRow1, kRow2}});
        if (c.before)
            testing::writeFileBytes(w.path, *c.before);
        QString error;
        EXPECT_EQ(appendOutputFile(w.grid, w.state, w.path, &error), c.appended) << c.what;
        EXPECT_EQ(error.isEmpty(), c.appended) << c.what;
        EXPECT_EQ(testing::readFileBytes(w.path), c.after) << c.what;
    }
}

// Each earlier copy's data and age: the higher `age`, the older its modification time.
struct Kept {
    int number, age;
};

void setAge(const QString &path, int age)
{
    const struct timespec times[2] = {{1'700'000'000 - age * 60, 0}, {1'700'000'000 - age * 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0) << qPrintable(path);
}

TEST(OutputFile, ReplacingAFileThatHoldsDataKeepsItAsTheLowestFreeNumberOrInPlaceOfTheOldestOfNine)
{
    const struct {
        const char *what;
        std::optional<QByteArray> before; // nothing: no file
        std::vector<Kept> kept;           // copies there already, each holding "old N"
        int keptAs;                       // 0: nothing kept
    } cases[] = {
        {"no file", std::nullopt, {}, 0},
        {"an empty file", QByteArray(), {{1, 1}}, 0},
        {"the first copy", "last\r\n", {}, 1},
        {".1 and .2 there", "last\r\n", {{1, 2}, {2, 1}}, 3},
        {"a gap in the numbers", "last\r\n", {{1, 3}, {3, 1}, {4, 2}}, 2},
        {"nine kept: the oldest gives way", "last\r\n",
         {{1, 5}, {2, 4}, {3, 3}, {4, 9}, {5, 8}, {6, 7}, {7, 6}, {8, 2}, {9, 1}}, 4},
        {"nine as old as each other: the lowest number", "last\r\n",
         {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}}, 1},
    };
    for (const auto &c : cases) {
        Written w;
        const QString &path = w.path;
        const auto keptPath = [&](int n) { return path + QLatin1Char('.') + QString::number(n); };
        for (const Kept &k : c.kept) {
            testing::writeFileBytes(keptPath(k.number), "old " + QByteArray::number(k.number));
            setAge(keptPath(k.number), k.age);
        }
        if (c.before) {
            testing::writeFileBytes(path, *c.before);
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0604), 0);
        }
        QString keptAs = QStringLiteral("stale"), error;
        ASSERT_TRUE(replaceOutputFile(w.grid, w.state, path, &keptAs, &error)) << c.what << ": " << qPrintable(error);
        EXPECT_EQ(testing::readFileBytes(path), outputFileBytes(w.grid, w.state)) << c.what;
        EXPECT_EQ(keptAs, c.keptAs ? keptPath(c.keptAs) : QString()) << c.what;
        for (int n = 1; n <= 9; ++n) {
            const bool wasThere =
                std::any_of(c.kept.begin(), c.kept.end(), [n](const Kept &k) { return k.number == n; });
            const QByteArray expected =
                n == c.keptAs ? *c.before : wasThere ? "old " + QByteArray::number(n) : QByteArray();
            EXPECT_EQ(testing::readFileBytes(keptPath(n)), expected) << c.what << ", copy " << n;
        }
        if (c.keptAs) {
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(keptPath(c.keptAs)).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0604u) << c.what << ": the copy has the file's mode";
        }
        EXPECT_FALSE(QFile::exists(keptPath(10))) << c.what;
    }
}

TEST(OutputFile, AFileWhoseDataCannotBeKeptIsNotReplaced)
{
    Written w;
    testing::writeFileBytes(w.path, "last\r\n");
    for (int n = 1; n <= 9; ++n)
        ASSERT_TRUE(QDir(w.dir.path()).mkdir(QStringLiteral("Logdata.csv.%1").arg(n)));
    QString keptAs, error;
    EXPECT_FALSE(replaceOutputFile(w.grid, w.state, w.path, &keptAs, &error));
    EXPECT_EQ(testing::readFileBytes(w.path), "last\r\n");
    EXPECT_TRUE(keptAs.isEmpty());
    EXPECT_TRUE(error.contains(w.path) && error.contains("taken")) << qPrintable(error);
    EXPECT_EQ(QDir(w.dir.path()).entryList(QDir::Files), QStringList{"Logdata.csv"}) << "no temporary file left";
}

} // namespace
} // namespace ostrand

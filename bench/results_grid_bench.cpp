// What a full download costs the results grid: time to clear and refill it,
// and the memory it holds empty and full, bare and under a table view.
// Run by hand (QT_QPA_PLATFORM=offscreen is set unless already given):
//   BUILD/bench/results_grid_bench [repeats]

#include "table/results_grid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using ostrand::ResultsGrid;

namespace {

constexpr int kDataRows = 65533;

struct Memory {
    long long rssKiB = -1;  // resident now
    long long hwmKiB = -1;  // resident at its peak so far
    long long heapKiB = -1; // handed out by malloc and not freed
};

long long statusFieldKiB(const QByteArray &status, const char *field)
{
    const int at = status.indexOf(field);
    if (at < 0)
        return -1;
    const int end = status.indexOf('\n', at);
    return status.mid(at + qstrlen(field), end - at - qstrlen(field))
        .replace("kB", "")
        .trimmed()
        .toLongLong();
}

Memory memoryNow()
{
    Memory m;
    QFile file(QStringLiteral("/proc/self/status"));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray status = file.readAll();
        m.rssKiB = statusFieldKiB(status, "VmRSS:");
        m.hwmKiB = statusFieldKiB(status, "VmHWM:");
    }
#if defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    m.heapKiB = static_cast<long long>((info.uordblks + info.hblkhd) / 1024);
#endif
    return m;
}

// The texts a download formats for one record: number, date, time, seven readings.
QStringList recordTexts(int record)
{
    const int seconds = record % 86400;
    QStringList texts;
    texts.reserve(10);
    texts.append(QString::number(record));
    texts.append(QStringLiteral("12/06/2026"));
    texts.append(QStringLiteral("%1:%2:%3")
                     .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                     .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                     .arg(seconds % 60, 2, 10, QLatin1Char('0')));
    for (int channel = 0; channel < 7; ++channel)
        texts.append(QString::number(100 + channel + (record % 1000) * 0.001, 'f', 3));
    return texts;
}

void writeHeadings(ResultsGrid &grid)
{
    grid.setRowTexts(0, {QStringLiteral("Record"), QStringLiteral("Date"), QStringLiteral("Time"),
                         QStringLiteral("Ch 1"), QStringLiteral("Ch 2"), QStringLiteral("Ch 3"),
                         QStringLiteral("Ch 4"), QStringLiteral("Ch 5"), QStringLiteral("Ch 6"),
                         QStringLiteral("Ch 7")});
}

void fillByRows(ResultsGrid &grid)
{
    ResultsGrid::BulkUpdate bulk(grid);
    grid.clear();
    writeHeadings(grid);
    for (int row = 1; row <= kDataRows; ++row)
        grid.setRowTexts(row, recordTexts(row));
}

void fillByCells(ResultsGrid &grid)
{
    ResultsGrid::BulkUpdate bulk(grid);
    grid.clear();
    writeHeadings(grid);
    for (int row = 1; row <= kDataRows; ++row) {
        const QStringList texts = recordTexts(row);
        for (int col = 0; col < texts.size(); ++col)
            grid.setText(row, col, texts[col]);
    }
}

// Formatting alone, so the grid's own share of a fill can be told apart.
void formatOnly(ResultsGrid &)
{
    qsizetype chars = 0;
    for (int row = 1; row <= kDataRows; ++row)
        for (const QString &text : recordTexts(row))
            chars += text.size();
    if (chars == 0)
        std::puts("unexpected: nothing formatted");
}

// Reads every cell back as the CSV writer does.
void readBack(ResultsGrid &grid)
{
    qsizetype chars = 0;
    for (int row = 0; row <= kDataRows; ++row)
        for (int col = 0; col < grid.cols(); ++col)
            chars += grid.text(row, col).size();
    if (chars == 0)
        std::puts("unexpected: the grid read back empty");
}

void clearOnly(ResultsGrid &grid)
{
    grid.clear();
}

struct Timing {
    double bestMs = 0;
    double medianMs = 0;
};

// `prepare` runs untimed before each repeat, so every repeat starts from the same state.
template <typename Prepare, typename Work> Timing timeIt(int repeats, Prepare prepare, Work work)
{
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

void printTiming(const char *what, const Timing &t)
{
    std::printf("  %-44s best %8.1f ms   median %8.1f ms\n", what, t.bestMs, t.medianMs);
}

void printMemory(const char *what, const Memory &m, const Memory &base)
{
    std::printf("  %-44s RSS %7lld KiB (%+7lld)   peak %7lld KiB   heap %+7lld KiB\n", what,
                m.rssKiB, m.rssKiB - base.rssKiB, m.hwmKiB, m.heapKiB - base.heapKiB);
}

void benchBare(int repeats)
{
    std::puts("Grid alone");
    const Memory base = memoryNow();
    {
        ResultsGrid grid;
        printMemory("empty 65535 x 10 grid", memoryNow(), base);
        fillByRows(grid);
        printMemory("full grid (65533 records)", memoryNow(), base);

        const auto nothing = [] {};
        const auto refill = [&grid] { fillByRows(grid); };
        printTiming("format the texts only",
                    timeIt(repeats, nothing, [&grid] { formatOnly(grid); }));
        printTiming("clear + fill by rows", timeIt(repeats, nothing, refill));
        printTiming("clear + fill cell by cell",
                    timeIt(repeats, nothing, [&grid] { fillByCells(grid); }));
        printTiming("read every cell back", timeIt(repeats, nothing, [&grid] { readBack(grid); }));
        printTiming("clear a full grid", timeIt(repeats, refill, [&grid] { clearOnly(grid); }));
        printMemory("after clear", memoryNow(), base);
    }
    printMemory("grid destroyed", memoryNow(), base);
}

void benchUnderView(int repeats)
{
    std::puts("Grid under a shown QTableView");
    const Memory base = memoryNow();
    ResultsGrid grid;
    QTableView view;
    view.setModel(&grid);
    view.resize(1000, 700);
    view.show();
    QCoreApplication::processEvents();
    printMemory("empty grid, view shown", memoryNow(), base);

    const auto nothing = [] {};
    printTiming("clear + fill by rows, view repainted", timeIt(repeats, nothing, [&grid] {
                    fillByRows(grid);
                    QCoreApplication::processEvents();
                }));
    printMemory("full grid, view shown", memoryNow(), base);
    view.scrollToBottom();
    QCoreApplication::processEvents();
    printMemory("full grid, scrolled to the end", memoryNow(), base);
    printTiming("clear a full grid, view repainted", timeIt(
                                                         repeats, [&grid] { fillByRows(grid); },
                                                         [&grid] {
                                                             grid.clear();
                                                             QCoreApplication::processEvents();
                                                         }));
    printMemory("after clear, view shown", memoryNow(), base);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    std::printf("results grid: %d records x 10 columns, %d repeats\n", kDataRows, repeats);
    // Order matters: the bare grid's clears let malloc hand its pages back, so
    // its fills include faulting them in again, while under the view the view's
    // own allocations pin the heap top and the second fill finds pages in place.
    benchBare(repeats);
    benchUnderView(repeats);
    return 0;
}

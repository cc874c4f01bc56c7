// What a full log costs after it has been read from the meter: decoding
// 65,533 instants of 8 channels (524,264 records) into the results grid in
// 256-byte blocks, then writing the CSV file. Run by hand:
//   BUILD/bench/decode_write_bench [repeats]

#include "download/log_decoder.h"
#include "table/grid_headings.h"
#include "table/output_file.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace ostrand;

namespace {

constexpr int kInstants = 65533;
constexpr int kBlockBytes = 256;
constexpr int kMinutesApart = 15;

int bcd(int value)
{
    return (value / 10) << 4 | value % 10;
}

void appendRecord(QByteArray &log, int channel, const QDateTime &when, float value)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const int y = date.year() - 2000;
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    const char record[8] = {char(channel << 4 | date.month()),
                            char((y >> 3 & 3) << 6 | bcd(date.day())),
                            char((y >> 1 & 3) << 6 | bcd(time.hour())),
                            char((y & 1) << 7 | bcd(time.minute())),
                            char(bits >> 24),
                            char(bits >> 16),
                            char(bits >> 8),
                            char(bits)};
    log.append(record, sizeof record);
}

// Readings that vary as a real log's do: fractions, a total, the odd large value.
std::vector<QByteArray> makeBlocks()
{
    QByteArray log;
    log.reserve(qsizetype(kInstants) * kChannelCount * 8);
    QDateTime when(QDate(2004, 3, 1), QTime(0, 15), Qt::UTC);
    for (int i = 0; i < kInstants; ++i) {
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            const float value = channel == 8 ? float(i) * 37.25f + 0.6f
                                             : float(channel) * 12.5f + float(i % 997) * 0.013f;
            appendRecord(log, channel, when, value);
        }
        when = when.addSecs(kMinutesApart * 60);
    }
    std::vector<QByteArray> blocks;
    for (qsizetype at = 0; at < log.size(); at += kBlockBytes)
        blocks.push_back(log.mid(at, kBlockBytes));
    return blocks;
}

void decodeAll(ResultsGrid &grid, GridState &state, const std::vector<QByteArray> &blocks)
{
    grid.clear();
    state = GridState();
    for (int k = 1; k <= kChannelCount; ++k)
        state.channel(k).takeMeterLabel(QStringLiteral("Channel %1").arg(k));
    state.channel(8).total = true;
    setUpGridHeadings(grid);
    setUpChannelHeadings(grid, state);
    for (const QByteArray &block : blocks)
        decodeLogBlock(block, grid, state);
}

struct Timing {
    double bestMs = 1e300;
    double medianMs = 0;
};

Timing summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2]};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::vector<QByteArray> blocks = makeBlocks();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Logdata.csv"));

    ResultsGrid grid;
    GridState state;
    std::vector<double> decodeMs, writeMs, totalMs, textMs;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        decodeAll(grid, state, blocks);
        const double decoded = timer.nsecsElapsed() / 1e6;
        QString error;
        if (!writeOutputFile(grid, state, path, &error)) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(error));
            return 1;
        }
        const double total = timer.nsecsElapsed() / 1e6;
        decodeMs.push_back(decoded);
        writeMs.push_back(total - decoded);
        totalMs.push_back(total);

        // The CSV text alone, to tell formatting from the file system's share.
        timer.restart();
        const QByteArray bytes = outputFileBytes(grid, state);
        textMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    if (state.lastGridRow != kInstants + 1) {
        std::fprintf(stderr, "unexpected: lastGridRow %d\n", state.lastGridRow);
        return 1;
    }

    std::printf("%d records (%d rows x %d channels) in %zu blocks, %d repeats\n",
                kInstants * kChannelCount, kInstants, kChannelCount, blocks.size(), repeats);
    const auto print = [](const char *what, const Timing &t) {
        std::printf("  %-30s best %8.1f ms   median %8.1f ms\n", what, t.bestMs, t.medianMs);
    };
    print("decode into the grid", summarise(decodeMs));
    print("write the CSV file", summarise(writeMs));
    print("  of which the CSV text", summarise(textMs));
    print("both", summarise(totalMs));
    std::printf("  file size %lld bytes; last line: %s\n", QFileInfo(path).size(),
                qPrintable(grid.text(state.lastGridRow, 1)));
    return 0;
}

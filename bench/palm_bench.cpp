// What converting the largest Palm file costs: a database of 65,533 instants
// of 8 channels (524,264 log records, about 16 MB) converted into the results
// grid and written as the CSV file, against copying the same file. Run by hand:
//   BUILD/bench/palm_bench [repeats]
// It also writes the demo's sample file:
//   BUILD/bench/palm_bench --make-sample-pdb docs/sample/PLOGR2.PDB

#include "download/download_display.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_import.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"
#include "table/grid_state.h"
#include "table/results_grid.h"
#include "tests/palm/palm_pdb_builder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace ostrand;
using ostrand::testing::meterStamp;
using ostrand::testing::PalmDatabaseBuilder;
using ostrand::testing::palmRecord;

namespace
{

constexpr int kInstants = 65533;
// The handheld keeps many log records in one database record; the header
// counts database records in 16 bits.
constexpr int kLogRecordsPerDatabaseRecord = 64;

class QuietDisplay : public DownloadDisplay
{
public:
    void setStatus(const QString &text) override { last = text; }
    void setProgress(int) override {}
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &) override {}
    QString last;
};

class AllMetersView : public PalmConversionView
{
public:
    bool separateByModId() const override { return false; }
    QString idListText() const override { return QString(); }
    QStringList idListEntries() const override { return {}; }
    void addIdListEntry(const QString &) override {}
    void setDownloadEnabled(bool) override {}
};

// Readings that vary as a real log's do: fractions, a total, the odd large value.
QByteArray fullDatabase()
{
    PalmDatabaseBuilder pdb;
    QByteArray group;
    QDateTime when(QDate(2007, 3, 1), QTime(0, 15));
    for (int i = 0; i < kInstants; ++i) {
        for (int k = 1; k <= kChannelCount; ++k) {
            const float value =
                k == 8 ? float(i) * 37.25f + 0.6f : float(k) * 12.5f + float(i % 997) * 0.013f;
            group += palmRecord(5, k, k == 8 ? "Flow Tot" : QByteArray("Chan ") + char('0' + k),
                                meterStamp(when), value);
            if (group.size() == kLogRecordsPerDatabaseRecord * 32) {
                pdb.add(group);
                group.clear();
            }
        }
        when = when.addSecs(15 * 60);
    }
    if (!group.isEmpty())
        pdb.add(group);
    return pdb.build();
}

// Three days of 15-minute samples from two meters, read one after the other.
// Values are kept to eighths so that their float form reads back as written.
bool makeSample(const QString &path)
{
    PalmDatabaseBuilder pdb;
    const struct {
        int modId;
        const char *names[3];
        double base;
    } meters[] = {{3, {"Flow", "Level", "Flow Tot"}, 120},
                  {7, {"Flow", "Velocity", "Not Used"}, 45}};
    for (const auto &meter : meters) {
        double total = 10000 * meter.base;
        QDateTime when(QDate(2007, 12, 3), QTime(0, 15));
        for (int i = 0; i < 3 * 96; ++i) {
            const double flow =
                std::round(8 * meter.base * (1 + 0.3 * std::sin(i * 2 * M_PI / 96))) / 8;
            total += flow / 4;
            const double second = flow / (meter.modId == 3 ? 40 : 30);
            const double values[3] = {flow, std::round(8 * second) / 8,
                                      meter.modId == 3 ? total : 0};
            for (int k = 1; k <= 3; ++k)
                pdb.add(palmRecord(meter.modId, k, meter.names[k - 1], meterStamp(when),
                                   float(values[k - 1])));
            when = when.addSecs(15 * 60);
        }
    }
    return pdb.writeTo(path);
}

double bestMs(int repeats, const std::function<void()> &run)
{
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--make-sample-pdb")) {
        if (!makeSample(args[2])) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
            return 1;
        }
        std::printf("wrote %s (%lld bytes)\n", qPrintable(args[2]), QFileInfo(args[2]).size());
        return 0;
    }
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QString pdbPath = dir.filePath(QStringLiteral("PLOGR2.PDB"));
    const QString csvPath = dir.filePath(QStringLiteral("Logdata.csv"));
    const QString copyPath = dir.filePath(QStringLiteral("copy.pdb"));
    {
        QFile file(pdbPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(fullDatabase()) < 0 || !file.flush()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(pdbPath));
            return 1;
        }
    }

    ResultsGrid grid;
    GridState state;
    SystemClock clock;
    QtEventPump pump;
    PalmImport import(grid, state, pump, clock);
    AllMetersView view;
    QuietDisplay display;
    const double convertMs =
        bestMs(repeats, [&] { import.downloadData(PalmSource{pdbPath}, csvPath, view, display); });
    if (display.last != QLatin1String("Finished. Data in File") ||
        state.lastGridRow != kInstants + 1) {
        std::fprintf(stderr, "unexpected: %s, lastGridRow %d\n", qPrintable(display.last),
                     state.lastGridRow);
        return 1;
    }
    const double copyMs = bestMs(repeats, [&] {
        QFile::remove(copyPath);
        QFile::copy(pdbPath, copyPath);
    });
    const double readWriteMs = bestMs(repeats, [&] {
        QFile in(pdbPath), out(copyPath);
        if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly))
            out.write(in.readAll());
    });

    std::printf(
        "%d log records (%d rows x %d channels), file %lld bytes, CSV %lld bytes; best of %d\n",
        kInstants * kChannelCount, kInstants, kChannelCount, QFileInfo(pdbPath).size(),
        QFileInfo(csvPath).size(), repeats);
    std::printf("  convert and write the CSV   %8.1f ms\n", convertMs);
    std::printf("  QFile::copy of the file     %8.1f ms   ratio %5.1f\n", copyMs,
                convertMs / copyMs);
    std::printf("  read it whole, write it     %8.1f ms   ratio %5.1f\n", readWriteMs,
                convertMs / readWriteMs);
    std::printf("  last row: %s\n",
                qPrintable(grid.rowTexts(state.lastGridRow).join(QLatin1Char(','))));
    return 0;
}

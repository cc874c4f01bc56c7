// A year of 15-minute readings on 8 channels (35,040 instants, 280,320
// readings) held in memory as the store hands them over, exported as iso-csv;
// the csv and influx formats are timed beside it. Run by hand:
//   BUILD/bench/export_bench [repeats]

#include "export/reading_export.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace ostrand::collect;

namespace {

constexpr int kInstants = 365 * 96;
constexpr int kChannels = 8;

// A London station through both clock changes, with values that vary as a real log's do.
std::vector<StoredReading> makeYear()
{
    const QTimeZone london("Europe/London");
    const char *labels[kChannels] = {"Flow (GPM)", "Flow Tot (Gal)", "Level (ft)", "Velocity (ft/s)",
                                     "Temperature", "Flow 2 (GPM)", "Level 2 (ft)", "Total 2 (Gal)"};
    const char *units[kChannels] = {"GPM", "Gal", "ft", "ft/s", "", "GPM", "ft", "Gal"};
    std::vector<StoredReading> readings;
    readings.reserve(size_t(kInstants) * kChannels);
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 15), Qt::UTC);
    for (int i = 0; i < kInstants; ++i) {
        const QDateTime utc = start.addSecs(qint64(i) * 900);
        const QString local = utc.toTimeZone(london).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (int k = 0; k < kChannels; ++k) {
            const double value = k == 1 || k == 7 ? 1000.0 + i * 12.75 : (i % 997) * 0.37 + k;
            readings.push_back({QStringLiteral("north pump"), k + 1, QString::fromLatin1(labels[k]),
                                QString::fromLatin1(units[k]), utc, local, value});
        }
    }
    return readings;
}

double bestSeconds(const std::vector<StoredReading> &readings, ExportFormat format, int repeats, qsizetype *bytes)
{
    double best = 1e9;
    for (int r = 0; r < repeats; ++r) {
        QElapsedTimer timer;
        timer.start();
        const QByteArray text = exportReadings(readings, format);
        best = std::min(best, timer.nsecsElapsed() / 1e9);
        *bytes = text.size();
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::vector<StoredReading> readings = makeYear();
    std::printf("%zu readings, best of %d runs\n", readings.size(), repeats);
    const struct {
        const char *name;
        ExportFormat format;
    } formats[] = {{"iso-csv", ExportFormat::IsoCsv}, {"csv", ExportFormat::WindowCsv}, {"influx", ExportFormat::Influx}};
    for (const auto &f : formats) {
        qsizetype bytes = 0;
        const double seconds = bestSeconds(readings, f.format, repeats, &bytes);
        std::printf("%-8s %.3f s  %.1f MB%s\n", f.name, seconds, bytes / 1e6,
                    f.format == ExportFormat::IsoCsv ? (seconds <= 1.0 ? "  (target 1 s: met)" : "  (target 1 s: MISSED)")
                                                     : "");
    }
    return 0;
}

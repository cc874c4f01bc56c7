// Writes the output file (or the settings file) over and over, alternating two
// known contents, until it is killed mid-write by killed_while_writing_test.
//   write_forever output|settings DIR
#include "app/settings_file.h"
#include "table/grid_layout.h"
#include "table/grid_state.h"
#include "table/output_file.h"
#include "table/results_grid.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

using namespace ostrand;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 64;
    const bool output = QByteArray(argv[1]) == "output";
    const QDir dir(QString::fromLocal8Bit(argv[2]));
    ResultsGrid grids[2];
    GridState states[2];
    Settings snapshots[2];
    SettingsFile settings(dir.path());
    for (int v = 0; v < 2; ++v) {
        // Large enough that a write takes a while: 20,000 rows of eight channels, 2 KB of phone list.
        grids[v].setText(1, 1, QStringLiteral("Date / Time"));
        for (int row = 2; row < 20000; ++row) {
            grids[v].setText(row, 1, QStringLiteral("12/%1/2026 10:00:00 AM").arg(v + 1));
            for (int k = 1; k <= kChannelCount; ++k)
                grids[v].setText(row, channelCol(k), QString::number(row * 10 + k + v * 1000000));
        }
        for (Channel &channel : states[v].channels)
            channel.inUse = true;
        states[v].lastGridRow = 19999;
        snapshots[v].baudIndex = v ? 3 : 6;
        for (auto &entry : snapshots[v].phoneList)
            entry = {QStringLiteral(" x"), QString(200, QLatin1Char(v ? 'b' : 'a')), QStringLiteral("desc")};
        QFile expected(dir.filePath(QStringLiteral("expected-%1").arg(v)));
        if (!expected.open(QIODevice::WriteOnly))
            return 1;
        expected.write(output ? outputFileBytes(grids[v], states[v]) : settingsBytes(snapshots[v]));
    }
    for (long i = 0;; ++i) {
        const int v = int(i % 2);
        if (!(output ? writeOutputFile(grids[v], states[v], dir.filePath(QStringLiteral("Logdata.csv")), nullptr)
                     : settings.save(snapshots[v])))
            return 1;
        if (i == 1)
            std::puts("ready"), std::fflush(stdout);
    }
}

// Writes the output file (or the settings file) over and over, alternating two
// known contents, until it is killed: the test kills it mid-write and checks
// that what is left is one content or the other, never a mix or a stub.
//   write_forever output|settings DIR
#include "app/settings_file.h"
#include "download/grid_state.h"
#include "download/output_file.h"
#include "download/results_grid.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

namespace {

void fillGrid(ostrand::ResultsGrid &grid, ostrand::GridState &state, int variant)
{
    state.channelInUse.fill(false);
    for (int k = 1; k <= 8; ++k)
        state.channelInUse[k] = true;
    grid.setText(1, 1, QStringLiteral("Date / Time"));
    for (int row = 2; row < 20000; ++row) {
        grid.setText(row, 1, QStringLiteral("12/%1/2026 10:00:00 AM").arg(variant + 1));
        for (int col = 2; col <= 9; ++col)
            grid.setText(row, col, QString::number(row * 10 + col + variant * 1000000));
    }
    state.lastGridRow = 19999;
}

ostrand::Settings snapshot(int variant)
{
    ostrand::Settings s;
    s.portIndex = 0;
    s.handshakeIndex = 1;
    s.separationIndex = 0;
    s.baudIndex = variant ? 3 : 6;
    s.slaveIdText = QStringLiteral("00%1").arg(variant + 1);
    for (auto &entry : s.phoneList)
        entry = {QStringLiteral(" x"), QString(200, QLatin1Char(variant ? 'b' : 'a')), QStringLiteral("desc")};
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 64;
    const bool output = QByteArray(argv[1]) == "output";
    const QDir dir(QString::fromLocal8Bit(argv[2]));

    ostrand::ResultsGrid grids[2];
    ostrand::GridState states[2];
    ostrand::SettingsFile settings(dir.path());
    for (int v = 0; v < 2; ++v) {
        fillGrid(grids[v], states[v], v);
        QFile expected(dir.filePath(QStringLiteral("expected-%1").arg(v)));
        if (!expected.open(QIODevice::WriteOnly))
            return 1;
        expected.write(output ? ostrand::outputFileBytes(grids[v], states[v]) : ostrand::settingsBytes(snapshot(v)));
    }
    const QString target = output ? dir.filePath(QStringLiteral("Logdata.csv")) : settings.path();
    for (long i = 0;; ++i) {
        const int v = int(i % 2);
        const bool ok = output ? ostrand::writeOutputFile(grids[v], states[v], target, nullptr)
                               : settings.save(snapshot(v));
        if (!ok)
            return 1;
        if (i == 1) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}

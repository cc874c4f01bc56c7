// Peak memory of the window holding a full results grid (65,533 rows of 8
// channels) shown on the "View" tab. Run: BUILD/bench/window_memory_bench
#include "app/main_window.h"
#include "download/log_decoder.h"
#include "platform/file_dialogs.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "sim/log_record.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QApplication>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstring>

namespace {

long statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<int>(std::strlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

class NoDialogs : public ostrand::FileDialogs {
public:
    std::optional<QString> chooseSaveFile(const QString &, const QString &, const QString &) override { return {}; }
    std::optional<QString> chooseOpenFile(const QString &, const QString &, const QString &) override { return {}; }
};

// Records as a meter stores them, by the simulated meter's own encoder.
QByteArray record(int channel, const QDateTime &when, double value)
{
    const auto bytes = ostrand::sim::encodeLogRecord({channel, when, value});
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ostrand::QtSerialPort port(dir.path());
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    NoDialogs dialogs;
    ostrand::MainWindow window(dir.path(), {port, clock, pump, dialogs});
    window.load();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was never shown\n");
        return 1;
    }
    const long before = statusKb("VmHWM:");

    ostrand::GridState &state = window.gridState();
    for (ostrand::Channel &channel : state.channels)
        channel.inUse = true;
    QByteArray block;
    const QDateTime start(QDate(2025, 1, 1), QTime(0, 15));
    for (int row = 0; row < 65533; ++row) {
        const QDateTime when = start.addSecs(900LL * row);
        for (int k = 1; k <= 8; ++k)
            block += record(k, when, 100.25f + row % 1000 + k);
        if (block.size() >= 256) {
            ostrand::decodeLogBlock(block, window.results(), state);
            block.clear();
        }
    }
    ostrand::decodeLogBlock(block, window.results(), state);
    window.findChild<QTabWidget *>(QStringLiteral("SSTab1"))->setCurrentIndex(1);
    QTest::qWait(300);

    std::printf("data rows:       %d\n", state.lastGridRow - 1);
    std::printf("peak memory:     %.1f MB before the grid was filled, %.1f MB with it shown\n", before / 1024.0,
                statusKb("VmHWM:") / 1024.0);
    return 0;
}

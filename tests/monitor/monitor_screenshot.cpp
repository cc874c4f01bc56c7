// Saves a picture of the communication monitor for the documentation: a few
// exchanges with the simulated meter, a spoiled CRC and a meter that never
// answers among them. Run under Xvfb so the picture shows the desktop style.
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "monitor/monitor_view.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_serial_port.h"
#include "link/link_settings.h"
#include "platform/system_clock.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots/monitor.png");
    QDir().mkpath(QFileInfo(out).absolutePath());

    QTemporaryDir programDir;
    QProcess meter;
    meter.start(QStringLiteral(OSTRAND_METERSIM),
                {"--link", QDir(programDir.path()).filePath("COM1"), "--records", "300", "--labels",
                 "Flow,Flow Tot,Level", "--corrupt-crc", "--corrupt-every", "6"});
    while (meter.waitForReadyRead(5000) && !meter.readAllStandardOutput().contains("ready")) {
    }

    ostrand::QtSerialPort port(programDir.path());
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    ostrand::SerialLink serial(port, clock, pump);
    serial.setSettings({1, QStringLiteral("38400"), 1});
    ostrand::MeterLink link(serial);
    ostrand::QtFileDialogs dialogs(nullptr);

    ostrand::MonitorView view(link, clock, dialogs);
    view.setWindowTitle(QStringLiteral("Monitor"));
    view.resize(1080, 520);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return 1;

    // A download's opening exchanges, then the live display, as the window runs them.
    link.readHoldingRegisters(1, 76, 8);
    link.readLastDownloadPointer(1);
    link.readLogBlock(1, 0x18, 0x81, 0x00, 100);
    link.readLogBlock(1, 0x08, 0x80, 0x00, 128);
    link.readLogBlock(1, 0x08, 0x81, 0x00, 128);
    link.readLogBlock(1, 0x08, 0x82, 0x00, 128);
    link.confirmDownload(1);
    link.writeRegisters(1, 208, {0x4545});
    link.readHoldingRegisters(1, 24, 10);
    link.readDisplayBlock(1);
    // A wrong slave address: the meter stays silent and the key write gives up.
    link.writeRegisters(2, 208, {0x4545});
    link.readDisplayBlock(1);

    QTest::qWait(400);
    const bool saved = view.grab().save(out);
    meter.terminate();
    meter.waitForFinished(3000);
    if (!saved)
        return 1;
    qInfo("%s", qPrintable(out));
    return 0;
}

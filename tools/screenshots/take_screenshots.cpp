// Saves a picture of each tab of the window for the documentation. Run under
// Xvfb (scripts/screenshots) so the pictures show the real desktop style.
#include "app/download_tab.h"
#include "app/main_window.h"
#include "app/settings_file.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QScreen>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    const QString absoluteOut = QDir(outDir).absolutePath();
    QDir().mkpath(absoluteOut);

    // A program directory with a phone list filled in, so the Dialer tab shows something real.
    QTemporaryDir programDir;
    QString settings = QString::fromLatin1(ostrand::defaultSettingsBytes());
    settings.replace(QStringLiteral("[ItemPhone#]= \r\n[ItemDescription]= \r\n[Item#]= 2"),
                     QStringLiteral("[ItemPhone#]=1-555-0142\r\n[ItemDescription]=North pump station\r\n[Item#]= 2"));
    settings.replace(QStringLiteral("[ItemPhone#]= \r\n[ItemDescription]= \r\n[Item#]= 3"),
                     QStringLiteral("[ItemPhone#]=1-555-0188\r\n[ItemDescription]=River intake, meter 3\r\n[Item#]= 3"));
    QFile file(QDir(programDir.path()).filePath(ostrand::kSettingsFileName));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(settings.toLatin1());
    file.close();

    // A simulated meter on COM1, so the pictures show a real download and a live display.
    QProcess meter;
    meter.start(QStringLiteral(OSTRAND_METERSIM),
                {"--link", QDir(programDir.path()).filePath("COM1"), "--records", "300", "--labels",
                 "Flow (gpm),Flow Tot,Level (ft)", "--start", "2026-12-01 06:00", "--baud", "9600",
                 "--log-every-seconds", "2"});
    while (meter.waitForReadyRead(5000) && !meter.readAllStandardOutput().contains("ready")) {
    }

    ostrand::QtSerialPort port(programDir.path());
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    ostrand::QtFileDialogs dialogs(nullptr);
    const QString links = programDir.path();
    ostrand::MainWindow window(programDir.path(), {port, clock, pump, dialogs, [links] {
                                                       return std::make_unique<ostrand::QtSerialPort>(links);
                                                   }});
    window.load();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("SSTab1"));
    // The meter answers at 9600 baud, so the download runs long enough to be pictured with its Stop button.
    tabs->setCurrentIndex(0);
    bool savedRunning = false;
    QTimer::singleShot(3000, &window, [&] {
        savedRunning = window.grab().save(QStringLiteral("%1/download-running.png").arg(absoluteOut));
    });
    auto *status = window.findChild<QLabel *>(QStringLiteral("Label4"));
    // Lets the window run until `done` holds, or `ms` pass.
    const auto waitUntil = [](const std::function<bool()> &done, int ms) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms)
            QTest::qWait(50);
        return done();
    };
    window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    if (!waitUntil([&] { return savedRunning && status->text() == QLatin1String("Finished. Data in File"); }, 60000))
        return 1;
    window.findChild<QPushButton *>(QStringLiteral("Command9"))->click();
    QTest::qWait(2000);
    const char *const names[] = {"download", "view", "settings", "display-meter", "dialer", "palm-database", "monitor"};
    for (int i = 0; i < tabs->count(); ++i) {
        if (i == 3)
            window.findChild<QPushButton *>(QStringLiteral("Command9"))->click();
        tabs->setCurrentIndex(i);
        if (i == 3)
            QTest::qWait(1600);
        QTest::qWait(150);
        const QString path = QStringLiteral("%1/tab-%2-%3.png").arg(absoluteOut).arg(i).arg(QLatin1String(names[i]));
        if (!window.grab().save(path))
            return 1;
        qInfo("%s", qPrintable(path));
    }
    tabs->setCurrentIndex(1);
    window.findChild<QPushButton *>(QStringLiteral("ShowChartButton"))->click();
    QTest::qWait(500);
    if (!window.grab().save(QStringLiteral("%1/chart.png").arg(absoluteOut)))
        return 1;

    // "Since Last Time" onto the file written above: the question, pictured with the window
    // behind it (the whole screen, as the box is a window of its own), then cancelled.
    tabs->setCurrentIndex(0);
    // The box runs its own loop: a timer inside it takes the picture and answers Cancel.
    bool savedQuestion = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &window, [&] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            answer.stop();
            savedQuestion = window.screen()->grabWindow(0).save(
                QStringLiteral("%1/append-question.png").arg(absoluteOut));
            box->close();
        }
    });
    answer.start(300);
    QTest::qWait(200); // the meter logs a few more instants first
    window.findChild<QPushButton *>(QStringLiteral("Command7"))->click();
    if (!waitUntil([&] { return savedQuestion && !window.downloadTab().operationRunning(); }, 30000)) {
        qWarning("no question pictured: %s", qPrintable(status->text()));
        return 1;
    }

    // The meter gone: the status bar says what happened to which line.
    meter.terminate();
    meter.waitForFinished(3000);
    window.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    if (!waitUntil([&] { return !window.downloadTab().operationRunning(); }, 60000))
        return 1;
    QTest::qWait(300);
    if (!window.grab().save(QStringLiteral("%1/failed-line.png").arg(absoluteOut)))
        return 1;

    // A meter that says nothing: the tab counts the silence, pictured part-way, then stopped.
    QProcess silent;
    silent.start(QStringLiteral(OSTRAND_METERSIM),
                 {"--link", QDir(programDir.path()).filePath("COM1"), "--baud", "9600", "--silent"});
    while (silent.waitForReadyRead(5000) && !silent.readAllStandardOutput().contains("ready")) {
    }
    auto *download = window.findChild<QPushButton *>(QStringLiteral("Command2"));
    download->click();
    QTest::qWait(12500);
    if (!window.grab().save(QStringLiteral("%1/download-waiting.png").arg(absoluteOut)))
        return 1;
    download->click(); // "Stop"
    if (!waitUntil([&] { return !window.downloadTab().operationRunning(); }, 10000))
        return 1;
    silent.terminate();
    silent.waitForFinished(3000);
    return 0;
}

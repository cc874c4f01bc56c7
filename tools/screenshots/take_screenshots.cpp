// Saves a picture of each tab of the window for the documentation. Run under
// Xvfb (scripts/screenshots) so the pictures show the real desktop style.
#include "app/download_tab.h"
#include "app/main_window.h"
#include "app/settings_file.h"
#include "download/log_decoder.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "survey/pipe_curves.h"
#include "table/grid_headings.h"
#include "table/grid_state.h"
#include "table/meter_float.h"
#include "table/results_grid.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <functional>
#include <memory>
#include <random>

namespace {

// A week's survey of a 600 mm sewer at slope 0.002 and n 0.013, every 15
// minutes: the depth follows the day's use with a storm on the fourth day, the
// velocity follows the pipe's Manning curve with a little noise, and the
// logger missed three hours on the fifth day.
void fillSurveyLog(ostrand::ResultsGrid &grid, ostrand::GridState &state)
{
    using namespace ostrand;
    constexpr double kDiameter = 0.6, kSlope = 0.002, kN = 0.013;
    grid.clear();
    state = GridState{};
    const char *const labels[] = {"Level (mm)", "Velocity (m/s)", "Flow (l/s)", "Flow Tot (m3)"};
    for (int k = 1; k <= 4; ++k)
        state.channel(k).takeMeterLabel(QLatin1String(labels[k - 1]));
    setUpGridHeadings(grid);
    setUpChannelHeadings(grid, state);
    std::mt19937 random(34);
    std::normal_distribution<double> noise(0.0, 1.0);
    const QDateTime start(QDate(2026, 11, 2), QTime(0, 0));
    double total = 51200;
    ResultsGrid::BulkUpdate bulk(grid);
    for (int i = 0; i < 7 * 96; ++i) {
        const QDateTime when = start.addSecs(900LL * i);
        const double day = i / 96.0;
        const double hour = when.time().hour() + when.time().minute() / 60.0;
        const bool weekend = when.date().dayOfWeek() >= 6;
        // Low at night, a morning peak (later at the weekend) and an evening one.
        const double use = 0.35 + 0.45 * std::exp(-std::pow(hour - (weekend ? 10 : 8), 2) / 4) +
                           0.3 * std::exp(-std::pow(hour - 19.5, 2) / 6);
        const double storm = 2.6 * std::exp(-std::pow(day - 3.6, 2) / 0.01);
        const double depth = std::min(0.59, 0.12 * use + 0.09 * storm + 0.002 * noise(random));
        const double velocity = survey::manningVelocity(kDiameter, depth, kSlope, kN) * (1 + 0.03 * noise(random));
        const double flow = velocity * survey::circularSection(kDiameter, depth).area;
        total += flow * 900;
        if (day >= 4.25 && day < 4.375)
            continue;
        grid.setRowTexts(state.lastGridRow + 1,
                         {QString::number(state.lastGridRow), stampText(when.date(), when.time()),
                          valueText(std::round(depth * 10000) / 10), valueText(std::round(velocity * 1000) / 1000),
                          valueText(std::round(flow * 10000) / 10), totalValueText(total)});
        ++state.lastGridRow;
    }
}

} // namespace

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

    // The survey checks of a made-up survey: its scattergraph with the pipe's curves, then its days.
    fillSurveyLog(window.results(), window.gridState());
    emit window.downloadTab().resultsChanged();
    window.resize(1260, 860); // the daily table's columns shown whole
    tabs->setCurrentIndex(1);
    window.findChild<QPushButton *>(QStringLiteral("ShowScattergraphButton"))->click();
    const char *const pipe[][2] = {{"PipeDiameter", "600 mm"}, {"PipeSlope", "0.002"}, {"ManningN", "0.013"}};
    for (const auto &[name, value] : pipe) {
        auto *edit = window.findChild<QLineEdit *>(QLatin1String(name));
        edit->setText(QLatin1String(value));
        emit edit->editingFinished();
    }
    QTest::qWait(500);
    if (!window.grab().save(QStringLiteral("%1/scattergraph.png").arg(absoluteOut)))
        return 1;
    window.findChild<QPushButton *>(QStringLiteral("ShowDailyButton"))->click();
    // The weekdays before the storm ticked as dry weather.
    for (auto *dry : window.findChildren<QCheckBox *>(QStringLiteral("DryDay")))
        if (dry->property("date").toDate() <= QDate(2026, 11, 4))
            dry->click();
    QTest::qWait(500);
    if (!window.grab().save(QStringLiteral("%1/daily.png").arg(absoluteOut)))
        return 1;
    return 0;
}

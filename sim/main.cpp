#include "call_in_fleet.h"
#include "meter_setup.h"
#include "ostrand_version.h"
#include "sim_options.h"
#include "simulator.h"
#include "termination_signals.h"

#include <QCoreApplication>
#include <cstdio>

using namespace ostrand::sim;

namespace {

void printLine(FILE *stream, const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrand-metersim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTRAND_VERSION));

    SimOptions options;
    QString error;
    if (!parseOptions(app.arguments().mid(1), &options, &error)) {
        printLine(stderr, QStringLiteral("ostrand-metersim: %1").arg(error));
        printLine(stderr, QStringLiteral("Try 'ostrand-metersim --help'."));
        return 2;
    }
    if (options.showHelp) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options.showVersion) {
        printLine(stdout, QStringLiteral("ostrand-metersim " OSTRAND_VERSION));
        return 0;
    }

    const QDateTime wall = QDateTime::currentDateTime();
    const QDateTime now(wall.date(), wall.time(), Qt::UTC);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &app,
                     [](int) { QCoreApplication::quit(); });
    if (options.callIn.enabled()) {
        CallInFleet fleet(
            options, now, [](const QString &line) { printLine(stdout, line); },
            [](const QString &line) { printLine(stderr, line); });
        if (!fleet.start(&error)) {
            printLine(stderr, QStringLiteral("ostrand-metersim: %1").arg(error));
            return 1;
        }
        const int status = app.exec();
        fleet.stop();
        return status;
    }

    MeterContents contents;
    if (!makeContents(options, now, &contents, &error)) {
        printLine(stderr, QStringLiteral("ostrand-metersim: %1").arg(error));
        return 2;
    }

    Simulator simulator(
        options, contents, [](const QString &line) { printLine(stdout, line); },
        [](const QString &line) { printLine(stderr, line); });
    if (!simulator.start(&error)) {
        printLine(stderr, QStringLiteral("ostrand-metersim: %1").arg(error));
        return 1;
    }
    const int status = app.exec();
    simulator.stop();
    return status;
}

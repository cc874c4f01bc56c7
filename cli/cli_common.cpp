#include "cli_common.h"

#include "store/time_text.h"

#include <csignal>
#include <cstdio>

namespace ostrand::cli {

int usageError(const QString &message)
{
    std::fprintf(stderr, "ostrand-cli: %s\nTry 'ostrand-cli --help'.\n", qPrintable(message));
    return code(ExitStatus::Usage);
}

bool readPeriodOptions(const QCommandLineParser &parser, std::optional<QDateTime> *from,
                       std::optional<QDateTime> *to, QString *problem)
{
    for (const char *bound : {"from", "to"}) {
        const QString name = QLatin1String(bound);
        if (!parser.isSet(name))
            continue;
        const QString text = parser.value(name);
        const auto time = collect::instantFromIso(text);
        if (!time) {
            *problem = QStringLiteral("--%1 takes an ISO 8601 time with its zone, such as 2026-11-01T00:00:00Z or "
                                      "2026-11-01T00:00:00-05:00, not '%2'")
                           .arg(name, text);
            return false;
        }
        *(name == QLatin1String("from") ? from : to) = time;
    }
    if (*from && *to && **from >= **to) {
        *problem = QStringLiteral("--from must come before --to");
        return false;
    }
    return true;
}

namespace {

// Set by SIGTERM or SIGINT; a lock-free atomic is safe to set from a handler.
std::atomic<bool> stopSignalled{false};

void onStopSignal(int)
{
    stopSignalled = true;
}

} // namespace

std::atomic<bool> &catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return stopSignalled;
}

std::optional<double> staleAfterHours(const QCommandLineParser &parser, QString *problem)
{
    if (!parser.isSet(QStringLiteral("stale-after")))
        return 26.0;
    bool ok = false;
    const QString text = parser.value(QStringLiteral("stale-after"));
    const double hours = text.toDouble(&ok);
    // Written so that "nan", which fails every comparison, fails this one too.
    if (!ok || !(hours > 0 && hours <= 24 * 366)) {
        *problem = QStringLiteral("--stale-after takes hours, more than 0 and at most 8784, not '%1'").arg(text);
        return std::nullopt;
    }
    return hours;
}

std::optional<QDateTime> commandNowUtc(QString *error)
{
    const QString hook = qEnvironmentVariable("OSTRAND_CLI_NOW");
    if (hook.isEmpty())
        return QDateTime::currentDateTimeUtc();
    if (const auto now = collect::instantFromIso(hook))
        return now;
    *error = QStringLiteral("OSTRAND_CLI_NOW is '%1', not a time such as 2026-12-07T02:30:00Z").arg(hook);
    return std::nullopt;
}

void printLine(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printDetail(const QString &line)
{
    std::fflush(stdout);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

} // namespace ostrand::cli

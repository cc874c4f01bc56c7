#pragma once

#include "cli/exit_status.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <atomic>
#include <QString>
#include <optional>

namespace ostrand::cli {

// Prints `message` and a hint to stderr and returns ExitStatus::Usage's code.
int usageError(const QString &message);

// The time a command takes as now: the clock's, or OSTRAND_CLI_NOW (ISO 8601 with
// its zone) when set, a test hook that lets the health report judge ages and
// collect stamp its history a day on without waiting a day. Read once, by the
// command's entry, and passed on as a value. nullopt, with *error set, for a
// hook that is not a time.
std::optional<QDateTime> commandNowUtc(QString *error);

// --from (included) and --to (excluded) as zoned ISO 8601 times into `from`
// and `to` (left unset when not given); false with *problem saying what they
// take, or that --from must come first: a time without its zone could be any of 24.
bool readPeriodOptions(const QCommandLineParser &parser, std::optional<QDateTime> *from,
                       std::optional<QDateTime> *to, QString *problem);

// The hours after which a station without a success is stale: --stale-after
// when given (more than 0, at most a leap year), else 26. nullopt with
// *problem set for any other text ("nan" included).
std::optional<double> staleAfterHours(const QCommandLineParser &parser, QString *problem);

// SIGTERM and SIGINT set the flag this returns, for a command that runs until
// told to stop (a listener, the status page): its loops and waits read it.
std::atomic<bool> &catchStopSignals();

// Writes one line to stdout at once, so a caller reading a pipe sees each status as it comes.
void printLine(const QString &line);
// Writes one line to stderr: the reason behind a status line, or a warning.
void printDetail(const QString &line);

} // namespace ostrand::cli

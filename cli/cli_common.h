#pragma once

#include "cli/exit_status.h"

#include <QCommandLineParser>
#include <QDateTime>
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

// The zoned ISO 8601 time option `name` gives (--from, --to), or nullopt with
// *problem saying what it takes: a time without its zone could be any of 24.
std::optional<QDateTime> zonedTimeOption(const QCommandLineParser &parser, const QString &name, QString *problem);

// Writes one line to stdout at once, so a caller reading a pipe sees each status as it comes.
void printLine(const QString &line);
// Writes one line to stderr: the reason behind a status line, or a warning.
void printDetail(const QString &line);

} // namespace ostrand::cli

#pragma once

#include "cli/exit_status.h"

#include <QString>

namespace ostrand::cli {

// Prints `message` and a hint to stderr and returns ExitStatus::Usage's code.
int usageError(const QString &message);

// Writes one line to stdout at once, so a caller reading a pipe sees each status as it comes.
void printLine(const QString &line);
// Writes one line to stderr: the reason behind a status line, or a warning.
void printDetail(const QString &line);

} // namespace ostrand::cli

#pragma once

#include "download/download_result.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace ostrand::cli {

// Exit status for a command line the tool cannot make sense of (sysexits' EX_USAGE).
constexpr int kUsageError = 64;

// Exit status of a download or conversion: 0 done, 1 no records, 2 no Palm
// file, 3 the output file could not be written, 4 any other failure.
int exitStatusFor(DownloadResult result, bool fileFailed = false);
constexpr int kFileFailedStatus = 3;
constexpr int kOtherFailureStatus = 4;

// Prints `message` and a hint to stderr and returns kUsageError.
int usageError(const QString &message);

// A port given as COM1..COM4 (by number) or as a device path.
struct PortChoice {
    int comNumber = 1;
    QString devicePath; // empty for a COM number
};
std::optional<PortChoice> parsePort(const QString &text);
// One of the seven rates the meters use.
bool isSupportedBaud(const QString &text);
// A slave address that fits the frame's one byte.
std::optional<int> parseSlave(const QString &text);

// --reply-timeout: milliseconds a reply may take on a slow line, 0 to 60000 (0: the meters' own timings).
std::optional<int> parseReplyTimeout(const QString &text);
inline const QString kReplyTimeoutProblem =
    QStringLiteral("--reply-timeout takes milliseconds from 0 to 60000");

// Writes one line to stdout at once, so a caller reading a pipe sees each status as it comes.
void printLine(const QString &line);
// Writes one line to stderr: the reason behind a status line, or a warning.
void printDetail(const QString &line);

} // namespace ostrand::cli

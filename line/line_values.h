#pragma once

#include "line/line_choice.h"

#include <QString>
#include <optional>

namespace ostrand {

// The parts of a LineChoice that are given as text, on a command line or in a
// stations file.
enum class LineKey { Port, Baud, Slave, ReplyTimeout, ConnectTimeout, RequestGap, Echo };

// The key's name, as an option (--NAME) and a stations-file key alike.
QString lineKeyName(LineKey key);

// Takes `text` as `key`'s value into `choice`; false, `choice` untouched, when
// it is not one. A port is COM1 to COM4 (any case), a device server's
// tcp://HOST:PORT or rfc2217://HOST:PORT, or else a device path, which must
// not look like an option; the baud one of the meters' rates; the slave an
// address that fits the frame's byte; the reply time 0 to 60000 ms; the
// connect time 1 to 300000 ms; the request gap 0 to 1000 ms; echo "true" or
// "false" (on a command line a flag, given as "true" when set).
bool takeLineValue(LineChoice &choice, LineKey key, const QString &text);

// A slave address alone (a Palm ID is one too).
std::optional<int> parseSlave(const QString &text);

// What is wrong, worded for a command line: "--baud takes 1200, ...".
QString optionProblem(LineKey key);
// What is wrong with `value`, worded for a stations file's key.
QString stationsKeyProblem(LineKey key, const QString &value);

} // namespace ostrand

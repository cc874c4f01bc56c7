#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// The byte the text display shows in place of one it cannot show.
constexpr char kUnshownByte = '\x9D';

// A line of the text display as read from the meter: each byte of 10 or less
// or of 254 or more becomes 0x9D; nothing else changes, the length included.
QByteArray cleanDisplayText(const QByteArray &raw);

// The cleaned line as display text, one character per byte (Latin-1).
QString displayLineText(const QByteArray &raw);

} // namespace ostrand

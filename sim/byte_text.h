#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand::sim {

// A byte string given on the command line: plain text as its UTF-8 bytes, or "hex:0A0B.."
// for binary (an IMEI in BCD, a registration with control bytes). False with `error` set
// when the hexadecimal is not whole bytes or the result is empty or longer than `maxBytes`.
bool parseByteText(const QString &text, int maxBytes, QByteArray *bytes, bool *isHex,
                   QString *error);

// `bytes` readably for a status line: as text when every byte is printable ASCII other
// than a space, otherwise "hex:" and lower-case hexadecimal.
QString printableBytes(const QByteArray &bytes);

} // namespace ostrand::sim

#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// A channel label read from meter memory: bytes 254 and 255 (erased memory)
// dropped, the rest taken as Latin-1 characters.
QString cleanChannelName(const QByteArray &raw);

// The same for a label already held as text: characters U+00FE and U+00FF dropped.
QString cleanChannelName(const QString &raw);

} // namespace ostrand

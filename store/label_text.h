#pragma once

#include <QString>

namespace ostrand::collect {

// `text` with every control character (C0, DEL and C1) replaced by U+FFFD. A
// label is whatever bytes the meter's memory holds: a line feed, a carriage
// return or a NUL in it would end an export's line or row early, and no
// escaping of the InfluxDB line protocol can carry a line feed.
QString withoutControlCharacters(const QString &text);

// `text` as one RFC 4180 field: quoted, its quotes doubled, when it holds a
// comma, a quote or a line break; else as it is.
QString csvField(const QString &text);

} // namespace ostrand::collect

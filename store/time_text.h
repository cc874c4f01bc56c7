#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace ostrand::collect {

// An instant given as ISO 8601 with its zone ("2026-11-01T05:15:00Z",
// "2026-11-01T01:15:00-04:00", seconds optional), as UTC. A time without a zone
// is refused (nullopt): whose local time it meant, the machine's or the
// station's, cannot be told, and around a clock change not even the hour.
std::optional<QDateTime> instantFromIso(const QString &text);


// The one text of an instant this program writes, in the SQLite store, the
// exports, the histories, the reports and the messages: "2026-03-29T01:15:00Z"
// (empty for an invalid time), and the one reading of it back (an invalid
// time for any other text).
QString utcText(const QDateTime &time);
QDateTime utcFromText(const QString &text);
// utcText's bytes added to `out`, for the exports and the stores that write millions.
void appendUtcText(QByteArray &out, const QDateTime &time);

} // namespace ostrand::collect

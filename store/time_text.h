#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace ostrand::collect {

// An instant given as ISO 8601 with its zone ("2026-11-01T05:15:00Z",
// "2026-11-01T01:15:00-04:00", seconds optional), as UTC. A time without a zone
// is refused (nullopt): whose local time it meant, the machine's or the
// station's, cannot be told, and around a clock change not even the hour.
std::optional<QDateTime> instantFromIso(const QString &text);

// "2026-11-01T05:15:00Z".
QString isoUtcText(const QDateTime &time);

// Stamps as the SQLite store holds them and the messages show them: "2026-03-29T01:15:00Z".
QString utcText(const QDateTime &utc);
QDateTime utcFromText(const QString &text);

} // namespace ostrand::collect

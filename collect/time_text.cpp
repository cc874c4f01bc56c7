#include "time_text.h"

#include <QRegularExpression>

namespace ostrand::collect {

std::optional<QDateTime> instantFromIso(const QString &text)
{
    // Qt reads a stamp without a zone as local time; the zone is required here.
    static const QRegularExpression zoned(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d(:\d\d)?(Z|[+-]\d\d:\d\d)$)"));
    if (!zoned.match(text).hasMatch())
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (!time.isValid())
        return std::nullopt;
    return time.toUTC();
}

QString isoUtcText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

} // namespace ostrand::collect

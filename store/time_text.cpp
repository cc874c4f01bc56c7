#include "time_text.h"

#include <QRegularExpression>

#include <cstdio>

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

QString utcText(const QDateTime &utc)
{
    // By hand: QDateTime::toString would cost a store of a year's readings most of its time.
    const QDateTime t = utc.toUTC();
    const QDate d = t.date();
    const QTime h = t.time();
    char text[24];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", d.year(), d.month(), d.day(), h.hour(),
                  h.minute(), h.second());
    return QString::fromLatin1(text);
}

QDateTime utcFromText(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    t.setTimeSpec(Qt::UTC);
    return t;
}

} // namespace ostrand::collect

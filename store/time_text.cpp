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

namespace {

char *twoDigits(char *out, int value)
{
    *out++ = char('0' + value / 10);
    *out++ = char('0' + value % 10);
    return out;
}

} // namespace

void appendUtcText(QByteArray &out, const QDateTime &time)
{
    if (!time.isValid())
        return;
    // By hand: Qt's ISO text would cost a store or an export of a year's readings most of its time.
    const QDateTime utc = time.timeSpec() == Qt::UTC ? time : time.toUTC();
    const QDate date = utc.date();
    const QTime clock = utc.time();
    char text[24];
    char *at = twoDigits(twoDigits(text, date.year() / 100), date.year() % 100);
    *at++ = '-';
    at = twoDigits(at, date.month());
    *at++ = '-';
    at = twoDigits(at, date.day());
    *at++ = 'T';
    at = twoDigits(at, clock.hour());
    *at++ = ':';
    at = twoDigits(at, clock.minute());
    *at++ = ':';
    at = twoDigits(at, clock.second());
    *at++ = 'Z';
    out.append(text, at - text);
}

QString utcText(const QDateTime &time)
{
    QByteArray text;
    appendUtcText(text, time);
    return QString::fromLatin1(text);
}

QDateTime utcFromText(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    t.setTimeSpec(Qt::UTC);
    return t;
}

} // namespace ostrand::collect

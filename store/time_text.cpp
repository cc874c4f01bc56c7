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

// Read by hand: QDateTime::fromString with a format costs tens of
// microseconds, and the outbox and the exports read hundreds of thousands.
QDateTime utcFromText(const QString &text)
{
    if (text.size() != 20 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':'
        || text[16] != u':' || text[19] != u'Z')
        return QDateTime();
    const auto number = [&](int from, int digits, bool *ok) {
        int value = 0;
        for (int i = from; i < from + digits; ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9')
                *ok = false;
            value = value * 10 + int(c - u'0');
        }
        return value;
    };
    bool ok = true;
    const QDate date(number(0, 4, &ok), number(5, 2, &ok), number(8, 2, &ok));
    const QTime time(number(11, 2, &ok), number(14, 2, &ok), number(17, 2, &ok));
    if (!ok || !date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

} // namespace ostrand::collect

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
    // By hand, as it is written: Qt's parser reads the text as the machine's
    // local time first, asking the system's zone file at every call, which made
    // reading a day's runs and readings for a fleet take seconds.
    if (text.size() != 20 || text[4] != u'-' || text[7] != u'-' || text[10] != u'T' || text[13] != u':'
        || text[16] != u':' || text[19] != u'Z')
        return {};
    int fields[6];
    const int starts[6] = {0, 5, 8, 11, 14, 17};
    for (int f = 0; f < 6; ++f) {
        const int width = f == 0 ? 4 : 2;
        int value = 0;
        for (int i = starts[f]; i < starts[f] + width; ++i) {
            const char16_t c = text[i].unicode();
            if (c < u'0' || c > u'9')
                return {};
            value = value * 10 + (c - u'0');
        }
        fields[f] = value;
    }
    const QDate date(fields[0], fields[1], fields[2]);
    const QTime clock(fields[3], fields[4], fields[5]);
    if (!date.isValid() || !clock.isValid())
        return {};
    return QDateTime(date, clock, Qt::UTC);
}

} // namespace ostrand::collect

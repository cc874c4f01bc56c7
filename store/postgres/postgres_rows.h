#pragma once

#include "store/postgres/postgres_session.h"
#include "store/store_records.h"
#include "store/time_text.h"

#include <QHash>

namespace ostrand::collect {

// A field for COPY's text format: backslash, tab and line ends escaped.
inline void appendCopyField(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

// What makes a reading one: the readings table's primary key.
struct ReadingKey {
    QString station;
    int channel;
    qint64 utc;
    bool operator==(const ReadingKey &o) const { return channel == o.channel && utc == o.utc && station == o.station; }
};
inline size_t qHash(const ReadingKey &k, size_t seed = 0) { return ::qHash(k.station, seed) ^ ::qHash(k.utc, seed) ^ size_t(k.channel); }

// A reading as the statements bind it: every field as text.
inline QStringList fields(const StoredReading &r)
{
    return {r.station, QString::number(r.channel), r.label, r.unit.isEmpty() ? QString() : r.unit,
            utcText(r.timeUtc), r.timeLocal, QString::number(r.value, 'g', 17)};
}

// A reading as a query gives it back, its time as seconds since 1970.
inline StoredReading readingAt(const PGresult *r, int row)
{
    const auto text = [&](int column) { return QString::fromUtf8(PQgetvalue(r, row, column)); };
    return {text(0), text(1).toInt(), text(2), text(3), utcFromEpoch(PQgetvalue(r, row, 4)), text(5),
            QByteArray(PQgetvalue(r, row, 6)).toDouble()};
}

} // namespace ostrand::collect

#include "reading_store.h"

#include "collect/postgres_store.h"
#include "collect/sqlite_store.h"

#include <cstdio>

namespace ostrand::collect {

std::unique_ptr<ReadingStore> openReadingStore(const StoreLocation &location, QString *error)
{
    return location.kind == StoreLocation::Kind::Sqlite ? openSqliteStore(location.target, error)
                                                        : openPostgresStore(location.target, error);
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

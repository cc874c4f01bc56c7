#include "reading_store.h"

#include "collect/postgres_store.h"
#include "collect/sqlite_store.h"

namespace ostrand::collect {

std::unique_ptr<ReadingStore> openReadingStore(const StoreLocation &location, QString *error)
{
    return location.kind == StoreLocation::Kind::Sqlite ? openSqliteStore(location.target, error)
                                                        : openPostgresStore(location.target, error);
}

QString utcText(const QDateTime &utc)
{
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

QDateTime utcFromText(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    t.setTimeSpec(Qt::UTC);
    return t;
}

} // namespace ostrand::collect

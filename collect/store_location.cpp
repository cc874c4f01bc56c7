#include "store_location.h"

#include <QDir>

namespace ostrand::collect {

std::optional<StoreLocation> parseStoreUrl(const QString &url, const QString &baseDir, QString *problem)
{
    const QString text = url.trimmed();
    if (text.startsWith(QLatin1String("sqlite:"))) {
        QString path = text.mid(7);
        // "sqlite:///var/x.db" is how other tools spell an absolute path.
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);
        if (path.isEmpty()) {
            *problem = QStringLiteral("sqlite: needs a file name (sqlite:readings.db)");
            return std::nullopt;
        }
        return StoreLocation{StoreLocation::Kind::Sqlite, QDir::cleanPath(QDir(baseDir).absoluteFilePath(path))};
    }
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"))
        || (text.contains(u'=') && !text.contains(QLatin1String("://"))))
        return StoreLocation{StoreLocation::Kind::Postgres, text};
    *problem = QStringLiteral("takes sqlite:FILE, postgresql://HOST/DATABASE or a libpq "
                              "\"host=... dbname=...\" string");
    return std::nullopt;
}

} // namespace ostrand::collect

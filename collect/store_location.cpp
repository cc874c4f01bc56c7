#include "store_location.h"

#include <libpq-fe.h>

#include <QDir>
#include <QHash>

namespace ostrand::collect {
namespace {

// "PostgreSQL database flow on db1:5432 as collector", from the parts libpq reads
// in the text; only these are shown, so a password or a passfile never is.
QString postgresName(const QString &connection)
{
    PQconninfoOption *options = PQconninfoParse(connection.toUtf8().constData(), nullptr);
    // libpq's reason could quote the text it stopped at, password and all.
    if (!options)
        return QStringLiteral("PostgreSQL database (a connection text libpq cannot read)");
    QHash<QString, QString> values;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        if (o->val && *o->val)
            values.insert(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
    }
    PQconninfoFree(options);
    QString text = QStringLiteral("PostgreSQL database %1")
                       .arg(values.value(QStringLiteral("dbname"), QStringLiteral("(default)")));
    if (values.contains(QStringLiteral("host")))
        text += QStringLiteral(" on %1").arg(values.value(QStringLiteral("host")));
    if (values.contains(QStringLiteral("port")))
        text += u':' + values.value(QStringLiteral("port"));
    if (values.contains(QStringLiteral("user")))
        text += QStringLiteral(" as %1").arg(values.value(QStringLiteral("user")));
    return text;
}

} // namespace

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

QString storeName(const StoreLocation &location)
{
    return location.kind == StoreLocation::Kind::Sqlite
               ? QStringLiteral("SQLite database %1").arg(location.target)
               : postgresName(location.target);
}

QStringList storeFiles(const StoreLocation &location)
{
    if (location.kind != StoreLocation::Kind::Sqlite)
        return {};
    const QString &file = location.target;
    return {file, file + QStringLiteral("-wal"), file + QStringLiteral("-shm"), file + QStringLiteral("-journal")};
}

} // namespace ostrand::collect

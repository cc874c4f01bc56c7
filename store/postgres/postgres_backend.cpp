#include "postgres_store.h"

#include <libpq-fe.h>

#include <QHash>

namespace ostrand::collect {

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

namespace {

bool recognizesPostgres(const QString &url)
{
    return url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://"))
           || (url.contains(u'=') && !url.contains(QLatin1String("://")));
}

std::optional<StoreLocation> locatePostgres(const QString &url, const QString &, QString *)
{
    return StoreLocation{StoreLocation::Kind::Postgres, url};
}

QStringList noFiles(const QString &)
{
    return {};
}

std::unique_ptr<ReadingStore> openPostgres(const QString &connection, QString *error)
{
    return openPostgresStore(connection, error);
}

// A reader (status, export) reads an older schema as it is: it may lack the rights to change it.
std::unique_ptr<ReadingStore> openPostgresForReading(const QString &connection, QString *error)
{
    return openPostgresStore(connection, error, StoreUse::Reading);
}

} // namespace

const StoreBackend kPostgresBackend{StoreLocation::Kind::Postgres,
                                    "postgresql://HOST/DATABASE or a libpq \"host=... dbname=...\" string",
                                    recognizesPostgres, locatePostgres, postgresName, noFiles, openPostgres,
                                    openPostgresForReading, true};

} // namespace ostrand::collect

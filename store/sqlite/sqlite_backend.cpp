#include "sqlite_store.h"

#include "platform/file_place.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace ostrand::collect {

QString sqliteName(const QString &path)
{
    return QStringLiteral("SQLite database %1").arg(path);
}

QString storeFileProblem(const QString &path)
{
    const QString whose = QStringLiteral("a SQLite store");
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("%1 is a symbolic link; %2 must be named by the file itself").arg(path, whose);
        if (!S_ISREG(st.st_mode))
            return S_ISDIR(st.st_mode) ? QStringLiteral("%1 is a folder; %2 must be a regular file").arg(path, whose)
                                       : notRegularFileText(path, st.st_mode, whose);
    }
    return sharedFolderProblem(path, QStringLiteral("the store"));
}

namespace {

bool recognizesSqlite(const QString &url)
{
    return url.startsWith(QLatin1String("sqlite:"));
}

std::optional<StoreLocation> locateSqlite(const QString &url, const QString &baseDir, QString *problem)
{
    QString path = url.mid(7);
    // "sqlite:///var/x.db" is how other tools spell an absolute path.
    if (path.startsWith(QLatin1String("//")))
        path = path.mid(2);
    if (path.isEmpty()) {
        *problem = QStringLiteral("sqlite: needs a file name (sqlite:readings.db)");
        return std::nullopt;
    }
    return StoreLocation{StoreLocation::Kind::Sqlite, QDir::cleanPath(QDir(baseDir).absoluteFilePath(path))};
}

QStringList sqliteFiles(const QString &file)
{
    return {file, file + QStringLiteral("-wal"), file + QStringLiteral("-shm"), file + QStringLiteral("-journal")};
}

std::unique_ptr<ReadingStore> openSqlite(const QString &path, QString *error)
{
    return openSqliteStore(path, error);
}

// A file that is not there is refused rather than made: a reader asking for it has the wrong name.
std::unique_ptr<ReadingStore> openSqliteForReading(const QString &path, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("there is no %1: check the path, or run collect with this store first")
                     .arg(sqliteName(path));
        return nullptr;
    }
    return openSqliteStore(path, error, kSqliteWaitMs, StoreUse::Reading);
}

} // namespace

const StoreBackend kSqliteBackend{StoreLocation::Kind::Sqlite, "sqlite:FILE", recognizesSqlite, locateSqlite,
                                  sqliteName, sqliteFiles, openSqlite, openSqliteForReading, false};

} // namespace ostrand::collect

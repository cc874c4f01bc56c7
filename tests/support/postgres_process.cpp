#include "postgres_process.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

namespace ostrand::testing {
namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");

} // namespace

PostgresProcess::~PostgresProcess()
{
    stop();
}

bool PostgresProcess::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (::geteuid() == 0)
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                                             QStringLiteral("--"), kBin + program} + arguments);
    else
        process.start(kBin + program, arguments);
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    problem_ = QStringLiteral("%1 failed (%2): %3").arg(program, process.errorString(),
                                                       QString::fromLocal8Bit(process.readAll()).trimmed());
    return false;
}

bool PostgresProcess::start()
{
    if (!dir_.isValid()) {
        problem_ = QStringLiteral("no scratch folder: %1").arg(dir_.errorString());
    } else if (!QFile::exists(kBin + QStringLiteral("initdb"))) {
        problem_ = QStringLiteral("%1initdb is missing: install postgresql-15 (scripts/deps)").arg(kBin);
    } else {
        if (::geteuid() == 0) {
            const passwd *pg = ::getpwnam("postgres");
            if (!pg || ::chown(QFile::encodeName(dir_.path()).constData(), pg->pw_uid, pg->pw_gid) != 0)
                problem_ = QStringLiteral("no postgres user to own %1").arg(dir_.path());
        }
        const QString data = dir_.filePath(QStringLiteral("data"));
        running_ = problem_.isEmpty()
                   && run(QStringLiteral("initdb"), {QStringLiteral("-D"), data, QStringLiteral("-A"),
                                                     QStringLiteral("trust"), QStringLiteral("-U"),
                                                     QStringLiteral("ostrand"), QStringLiteral("-E"),
                                                     QStringLiteral("UTF8"), QStringLiteral("--no-sync")})
                   && run(QStringLiteral("pg_ctl"),
                          {QStringLiteral("-D"), data, QStringLiteral("-l"), dir_.filePath(QStringLiteral("log")),
                           QStringLiteral("-w"), QStringLiteral("-o"),
                           QStringLiteral("-k %1 -c listen_addresses= -F").arg(dir_.path()), QStringLiteral("start")});
    }
    return running_;
}

void PostgresProcess::stop()
{
    if (running_)
        run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                                       QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                                       QStringLiteral("stop")});
    running_ = false;
}

QString PostgresProcess::newDatabase(const QString &name)
{
    const QString base = QStringLiteral("host=%1 user=ostrand dbname=").arg(dir_.path());
    PGconn *conn = PQconnectdb((base + QStringLiteral("postgres")).toUtf8().constData());
    PGresult *made = PQexec(conn, QStringLiteral("CREATE DATABASE \"%1\"").arg(name).toUtf8().constData());
    const bool ok = PQresultStatus(made) == PGRES_COMMAND_OK;
    if (!ok)
        problem_ = QStringLiteral("database %1 not made: %2").arg(name, QString::fromUtf8(PQerrorMessage(conn)));
    PQclear(made);
    PQfinish(conn);
    return ok ? base + name : QString();
}

} // namespace ostrand::testing

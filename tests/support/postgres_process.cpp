#include "postgres_process.h"

#include <QFile>
#include <QProcess>
#include <libpq-fe.h>
#include <pwd.h>
#include <unistd.h>

namespace ostrand::testing {

bool PostgresProcess::run(const QString &program, const QStringList &arguments)
{
    const QString path = "/usr/lib/postgresql/15/bin/" + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (::geteuid() == 0)
        process.start("runuser", QStringList{"-u", "postgres", "--", path} + arguments);
    else
        process.start(path, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    problem_ = QString("%1 failed (%2; is postgresql-15 installed? scripts/deps): %3")
                   .arg(path, process.errorString(), QString::fromLocal8Bit(process.readAll()).trimmed());
    return false;
}

bool PostgresProcess::start()
{
    const passwd *pg = ::getpwnam("postgres");
    if (!dir_.isValid() || (::geteuid() == 0 && (!pg || ::chown(QFile::encodeName(dir_.path()), pg->pw_uid, pg->pw_gid)))) {
        problem_ = "no scratch folder the postgres user owns: " + dir_.errorString();
        return false;
    }
    const QString data = dir_.filePath("data");
    running_ = run("initdb", {"-D", data, "-A", "trust", "-U", "ostrand", "-E", "UTF8", "--no-sync"})
               && run("pg_ctl", {"-D", data, "-l", dir_.filePath("log"), "-w", "-o",
                                 QString("-k %1 -c listen_addresses= -F").arg(dir_.path()), "start"});
    return running_;
}

void PostgresProcess::stop()
{
    if (running_)
        run("pg_ctl", {"-D", dir_.filePath("data"), "-m", "immediate", "-w", "stop"});
    running_ = false;
}

QString PostgresProcess::newDatabase(const QString &name)
{
    const QString base = QString("host=%1 user=ostrand dbname=").arg(dir_.path());
    PGconn *conn = PQconnectdb((base + "postgres").toUtf8().constData());
    PGresult *made = PQexec(conn, QString("CREATE DATABASE \"%1\"").arg(name).toUtf8().constData());
    const bool ok = PQresultStatus(made) == PGRES_COMMAND_OK;
    if (!ok)
        problem_ = QString("database %1 not made: %2").arg(name, PQerrorMessage(conn));
    PQclear(made);
    PQfinish(conn);
    return ok ? base + name : QString();
}

} // namespace ostrand::testing

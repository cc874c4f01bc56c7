#include "postgres_process.h"

#include <QFile>
#include <QProcess>
#include <QThread>
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
    return execute(QString("CREATE DATABASE \"%1\"").arg(name))
               ? QString("host=%1 user=ostrand dbname=%2").arg(dir_.path(), name) : QString();
}

bool PostgresProcess::execute(const QString &sql)
{
    PGconn *conn = PQconnectdb(QString("host=%1 user=ostrand dbname=postgres").arg(dir_.path()).toUtf8().constData());
    PGresult *done = PQexec(conn, sql.toUtf8().constData());
    const bool ok = PQresultStatus(done) == PGRES_COMMAND_OK || PQresultStatus(done) == PGRES_TUPLES_OK;
    if (!ok)
        problem_ = QString("%1 failed: %2").arg(sql, PQerrorMessage(conn));
    PQclear(done);
    PQfinish(conn);
    return ok;
}

bool PostgresProcess::addPasswordUser(const QString &user, const QString &password, const QString &database)
{
    QFile hba(dir_.filePath("data/pg_hba.conf"));
    if (!hba.open(QIODevice::ReadOnly))
        return false;
    const QByteArray rules = QString("local all %1 scram-sha-256\n").arg(user).toUtf8() + hba.readAll();
    hba.close();
    // Written in place, so the file keeps its owner.
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || hba.write(rules) != rules.size())
        return false;
    hba.close();
    if (!execute(QString("CREATE ROLE \"%1\" LOGIN PASSWORD '%2'").arg(user, password))
        || !execute(QString("ALTER DATABASE \"%1\" OWNER TO \"%2\"").arg(database, user))
        || !execute("SELECT pg_reload_conf()"))
        return false;
    // The server reads the rules again on its own time: until a wrong password is refused.
    const QByteArray wrong = QString("host=%1 user=%2 dbname=%3 password=not-%4").arg(dir_.path(), user, database, password).toUtf8();
    for (int tries = 0; tries < 100; ++tries) {
        PGconn *conn = PQconnectdb(wrong.constData());
        const bool refused = PQstatus(conn) != CONNECTION_OK;
        PQfinish(conn);
        if (refused)
            return true;
        QThread::msleep(50);
    }
    problem_ = "the server still lets " + user + " in without its password";
    return false;
}

} // namespace ostrand::testing

#include "postgres_server.h"

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

PostgresServer &PostgresServer::instance()
{
    static PostgresServer *server = [] {
        auto *s = new PostgresServer;
        ::testing::AddGlobalTestEnvironment(s); // gtest owns it from here
        return s;
    }();
    return *server;
}

bool PostgresServer::run(const QString &program, const QStringList &arguments, int timeoutMs)
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

void PostgresServer::SetUp()
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
    // A test that needs the server fails without it; none is skipped.
    if (!running_)
        ADD_FAILURE() << "PostgreSQL could not be started: " << problem_.toStdString();
}

void PostgresServer::TearDown()
{
    if (running_)
        run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                                       QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("-w"),
                                       QStringLiteral("stop")});
    running_ = false;
}

QString PostgresServer::newDatabase(const QString &name)
{
    const QString base = QStringLiteral("host=%1 user=ostrand dbname=").arg(dir_.path());
    PGconn *conn = PQconnectdb((base + QStringLiteral("postgres")).toUtf8().constData());
    PGresult *made = PQexec(conn, QStringLiteral("CREATE DATABASE \"%1\"").arg(name).toUtf8().constData());
    const bool ok = PQresultStatus(made) == PGRES_COMMAND_OK;
    if (!ok)
        ADD_FAILURE() << "database " << name.toStdString() << " not made: " << PQerrorMessage(conn);
    PQclear(made);
    PQfinish(conn);
    return base + name;
}

} // namespace ostrand::testing

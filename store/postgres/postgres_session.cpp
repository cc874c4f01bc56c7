#include "postgres_session.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

namespace ostrand::collect {

QDateTime utcFromEpoch(const char *text)
{
    return QDateTime::fromSecsSinceEpoch(QByteArray(text).toLongLong(), Qt::UTC);
}

bool PostgresSession::fail(QString *error, const QString &what, const PGresult *result) const
{
    const QString reason = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_)).trimmed();
    const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (silent_)
        *error = QStringLiteral("the store %1 did not answer within %2 s (no reply came, not even the server's "
                                "own timeout: the connection is given up); %3")
                     .arg(name_, seconds(replyLimitMs() - kGraceMs), what);
    else if (state && std::strcmp(state, "57014") == 0 && statementTimeoutMs_ > 0)
        *error = QStringLiteral("the store %1 did not answer within %2 s (%3); %4")
                     .arg(name_, seconds(statementTimeoutMs_), reason, what);
    else
        *error = QStringLiteral("%1: %2: %3").arg(name_, what, reason);
    return false;
}

// The statement timeout, ours unless the connection's options set one.
bool PostgresSession::limitStatements(QString *error)
{
    const QString what = QStringLiteral("its statement timeout could not be set");
    if (!optionOf(conn_, "options").contains("statement_timeout")
        && !runAll({QByteArray("SET statement_timeout = " + QByteArray::number(kDefaultStatementTimeoutMs))
                        .constData()},
                   error, what))
        return false;
    const Result limit = run("SELECT setting FROM pg_settings WHERE name = 'statement_timeout'");
    if (!good(limit) || PQntuples(limit.get()) != 1)
        return fail(error, what, limit.get());
    statementTimeoutMs_ = atoi(PQgetvalue(limit.get(), 0, 0));
    return true;
}

// `params` bound as text; a null QString goes as SQL NULL.
Result PostgresSession::run(const char *sql, const QStringList &params)
{
    std::vector<QByteArray> values;
    std::vector<const char *> pointers;
    for (const QString &p : params)
        values.push_back(p.toUtf8());
    for (size_t i = 0; i < values.size(); ++i)
        pointers.push_back(params[int(i)].isNull() ? nullptr : values[i].constData());
    if (silent_ || !PQsendQueryParams(conn_, sql, int(pointers.size()), nullptr, pointers.data(), nullptr, nullptr, 0))
        return Result(nullptr, &PQclear);
    return lastResult();
}

// The same for statements without parameters, several in one text allowed.
Result PostgresSession::send(const char *sql)
{
    if (silent_ || !PQsendQuery(conn_, sql))
        return Result(nullptr, &PQclear);
    return lastResult();
}

// How long a reply may take: the statement timeout and a grace; 0, none.
qint64 PostgresSession::replyLimitMs() const
{
    const qint64 statement = statementTimeoutMs_ >= 0 ? statementTimeoutMs_ : kDefaultStatementTimeoutMs;
    return statement > 0 ? statement + kGraceMs : 0;
}

// The last result of what was sent (a COPY's start at once); null when the
// connection failed, or when no reply came within replyLimitMs, which
// leaves the connection silent_: its state is no longer known.
Result PostgresSession::lastResult()
{
    Result last(nullptr, &PQclear);
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        while (PQisBusy(conn_)) {
            const qint64 limit = replyLimitMs();
            const qint64 left = limit - waited.elapsed();
            if (limit > 0 && left <= 0) {
                silent_ = true;
                return Result(nullptr, &PQclear);
            }
            pollfd socket{PQsocket(conn_), POLLIN, 0};
            if (::poll(&socket, 1, limit > 0 ? int(std::min<qint64>(left, 1000)) : 1000) < 0 && errno != EINTR)
                return Result(nullptr, &PQclear);
            if (!PQconsumeInput(conn_))
                break; // the failure comes as the next result
        }
        PGresult *next = PQgetResult(conn_);
        if (!next)
            return last;
        last.reset(next);
        if (PQresultStatus(next) == PGRES_COPY_IN)
            return last;
    }
}

bool PostgresSession::good(const Result &r)
{
    const ExecStatusType s = PQresultStatus(r.get());
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

// Runs each statement in turn; false at the first that fails, with *error set.
bool PostgresSession::runAll(std::initializer_list<const char *> statements, QString *error, const QString &what)
{
    for (const char *sql : statements) {
        const Result r = send(sql);
        if (!good(r))
            return fail(error, what, r.get());
    }
    return true;
}

} // namespace ostrand::collect

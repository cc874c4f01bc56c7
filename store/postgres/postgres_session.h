#pragma once

#include <libpq-fe.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstring>
#include <initializer_list>
#include <memory>

namespace ostrand::collect {

// Limits on waiting for the server, where the connection text sets none: a
// server that accepts and never answers would otherwise hold `collect`, and
// the stations file's lock with it, for ever.
constexpr char kDefaultConnectTimeoutS[] = "10";
constexpr int kDefaultStatementTimeoutMs = 60000;
// A peer gone without a word is noticed in about a minute, whether the
// connection is idle (keepalives) or has data unacknowledged (a COPY under way).
constexpr char kKeepaliveIdleS[] = "30";
constexpr char kKeepaliveIntervalS[] = "10";
constexpr char kKeepaliveCount[] = "3";
constexpr char kUnacknowledgedMs[] = "60000";

// The server's own statement timeout answers first; past it and this much
// more, a server whose process hangs (its host still taking the packets) is given up on.
constexpr qint64 kGraceMs = 5000;

// libpq waits at least 2 s, whatever smaller number it is given.
constexpr int kLeastConnectTimeoutS = 2;

inline QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0);
}

// A connection option as libpq took it, from the text, the environment or its default.
inline QByteArray optionOf(PGconn *conn, const char *keyword)
{
    QByteArray value;
    if (PQconninfoOption *options = PQconninfo(conn)) {
        for (PQconninfoOption *o = options; o->keyword; ++o) {
            if (std::strcmp(o->keyword, keyword) == 0 && o->val)
                value = o->val;
        }
        PQconninfoFree(options);
    }
    return value;
}

// Times are read back as seconds since 1970, whatever the session's zone.
QDateTime utcFromEpoch(const char *text);

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// A connection to the server and the one way statements go over it: each
// reply waited for within the statement timeout and a grace, a failure put
// in words that name the store and never its password.
class PostgresSession {
public:
    PostgresSession(PGconn *conn, const QString &name) : conn_(conn), name_(name) {}
    ~PostgresSession() { PQfinish(conn_); }
    PostgresSession(const PostgresSession &) = delete;
    PostgresSession &operator=(const PostgresSession &) = delete;

    // false, with *error saying what failed and why.
    bool fail(QString *error, const QString &what, const PGresult *result = nullptr) const;
    // The statement timeout, ours unless the connection's options set one.
    bool limitStatements(QString *error);
    // `params` bound as text; a null QString goes as SQL NULL.
    Result run(const char *sql, const QStringList &params = {});
    // The same for statements without parameters, several in one text allowed.
    Result send(const char *sql);
    // How long a reply may take: the statement timeout and a grace; 0, none.
    qint64 replyLimitMs() const;
    // The last result of what was sent (a COPY's start at once); null when the
    // connection failed, or when no reply came within replyLimitMs, which
    // leaves the connection silent_: its state is no longer known.
    Result lastResult();
    static bool good(const Result &r);
    // Runs each statement in turn; false at the first that fails, with *error set.
    bool runAll(std::initializer_list<const char *> statements, QString *error, const QString &what);
    void rollback() { send("ROLLBACK"); }

protected:
    PGconn *conn_;
    QString name_;
    int statementTimeoutMs_ = -1; // -1: not known yet
    bool silent_ = false;
};

} // namespace ostrand::collect

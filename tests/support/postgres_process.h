#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ostrand::testing {

// A private PostgreSQL 15 server from Debian's packages: initdb into a
// scratch folder, listening on a unix socket in that folder only (no TCP),
// stopped and removed with the object. PostgreSQL will not run as root, so
// under root the server runs as the `postgres` user, which then owns the folder.
class PostgresProcess {
public:
    ~PostgresProcess();
    bool start();
    void stop();

    bool running() const { return running_; }
    // Why the server is not running; empty when it is.
    QString problem() const { return problem_; }
    // A connection string for a fresh, empty database of its own called `name`;
    // empty, with problem() saying why, when it could not be made.
    QString newDatabase(const QString &name);

private:
    bool run(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

    QTemporaryDir dir_{QStringLiteral("/tmp/ostrand-pg-XXXXXX")};
    bool running_ = false;
    QString problem_;
};

} // namespace ostrand::testing

#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ostrand::testing {

// A private PostgreSQL 15 from Debian's packages: initdb into a scratch folder, a unix socket
// there and no TCP, stopped and removed with the object. Under root (which PostgreSQL refuses)
// it runs as the `postgres` user, which then owns the folder.
class PostgresProcess {
public:
    ~PostgresProcess() { stop(); }
    bool start();
    void stop();
    QString problem() const { return problem_; } // why it is not running, or a database not made
    // A connection string for a new, empty database `name`; empty when it could not be made.
    QString newDatabase(const QString &name);
    // A login `user` with `password`, asked for it (the others keep coming in
    // without one) and owning the database `database`; false when it could not be made.
    bool addPasswordUser(const QString &user, const QString &password, const QString &database);
    QString socketFolder() const { return dir_.path(); }

private:
    bool run(const QString &program, const QStringList &arguments);
    bool execute(const QString &sql);

    QTemporaryDir dir_{"/tmp/ostrand-pg-XXXXXX"};
    bool running_ = false;
    QString problem_;
};

} // namespace ostrand::testing

#pragma once

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ostrand::testing {

// A private PostgreSQL 15 server from Debian's packages for one test binary:
// initdb into a scratch folder, listening on a unix socket in that folder
// only (no TCP), stopped and removed at the end. PostgreSQL will not run as
// root, so under root the server runs as the `postgres` user, which then owns
// the folder.
class PostgresServer : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

    bool running() const { return running_; }
    // Why the server is not running; empty when it is.
    QString problem() const { return problem_; }
    // A connection string for a fresh, empty database of its own called `name`.
    QString newDatabase(const QString &name);
    // The server registered for the binary; registered by the first call.
    static PostgresServer &instance();

private:
    bool run(const QString &program, const QStringList &arguments, int timeoutMs = 60000);

    QTemporaryDir dir_{QStringLiteral("/tmp/ostrand-pg-XXXXXX")};
    bool running_ = false;
    QString problem_;
};

} // namespace ostrand::testing

#pragma once

#include "postgres_process.h"

#include <gtest/gtest.h>

namespace ostrand::testing {

// One PostgreSQL server for the whole test binary. A test that needs it fails
// when it could not be started; none is skipped.
class PostgresServer : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!process_.start())
            ADD_FAILURE() << "PostgreSQL could not be started: " << process_.problem().toStdString();
    }
    void TearDown() override { process_.stop(); }

    bool running() const { return process_.running(); }
    QString problem() const { return process_.problem(); }
    QString newDatabase(const QString &name)
    {
        const QString connection = process_.newDatabase(name);
        if (connection.isEmpty())
            ADD_FAILURE() << process_.problem().toStdString();
        return connection;
    }

    // The server of this binary, registered with GoogleTest by the first call.
    static PostgresServer &instance()
    {
        static PostgresServer *server = [] {
            auto *s = new PostgresServer;
            ::testing::AddGlobalTestEnvironment(s); // GoogleTest owns it from here
            return s;
        }();
        return *server;
    }

private:
    PostgresProcess process_;
};

} // namespace ostrand::testing

#pragma once

#include "postgres_process.h"

#include <gtest/gtest.h>

namespace ostrand::testing {

// One PostgreSQL for the whole test binary, registered by the first call. A test that needs it
// fails when it could not be started; none is skipped.
class PostgresServer : public ::testing::Environment, public PostgresProcess {
public:
    void SetUp() override { EXPECT_TRUE(start()) << "PostgreSQL could not be started: " << qPrintable(problem()); }
    void TearDown() override { stop(); }
    static PostgresServer &instance()
    {
        static auto *server = static_cast<PostgresServer *>(::testing::AddGlobalTestEnvironment(new PostgresServer));
        return *server;
    }
};

} // namespace ostrand::testing

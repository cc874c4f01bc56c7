#include "sim_test_support.h"

#include <gtest/gtest.h>

namespace ostrand::sim::testing {

SimOptions optionsFrom(const QStringList &arguments)
{
    SimOptions options;
    QString error;
    EXPECT_TRUE(parseOptions(arguments, &options, &error)) << error.toStdString();
    return options;
}

BuiltMeter meterFrom(const QStringList &arguments)
{
    const SimOptions options = optionsFrom(arguments);
    BuiltMeter built;
    QString error;
    EXPECT_TRUE(makeContents(options, testNow(), &built.contents, &error)) << error.toStdString();
    built.meter = makeMeter(options, built.contents, testNow());
    return built;
}

} // namespace ostrand::sim::testing

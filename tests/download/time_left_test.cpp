#include "download/time_left.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace ostrand;

TEST(TimeLeft, comesFromTheSmoothedRateOfTheBlocksOnceThereAreACoupleOfThem)
{
    const struct {
        const char *what;
        std::vector<std::pair<double, double>> blocks; // seconds, fraction done
        std::optional<double> left;
    } rows[] = {
        {"one block", {{1, 0.1}}, std::nullopt},
        {"two blocks", {{1, 0.1}, {2, 0.2}}, std::nullopt},
        {"a steady tenth a second", {{1, 0.1}, {2, 0.2}, {3, 0.3}}, 7.0},
        {"a slow block counts a quarter", {{1, 0.1}, {2, 0.2}, {3, 0.3}, {8, 0.4}}, 0.6 / 0.08},
        {"done: nothing left", {{1, 0.5}, {2, 1.0}, {3, 1.0}}, 0.0},
        {"past the end: never negative", {{1, 0.5}, {2, 0.9}, {3, 1.2}}, 0.0},
        {"no time passed: no rate", {{1, 0.1}, {1, 0.2}, {1, 0.3}}, std::nullopt},
    };
    for (const auto &row : rows) {
        TimeLeftEstimate estimate;
        for (const auto &[seconds, fraction] : row.blocks)
            estimate.blockRead(seconds, fraction);
        ASSERT_EQ(estimate.secondsLeft().has_value(), row.left.has_value()) << row.what;
        if (row.left) {
            EXPECT_NEAR(*estimate.secondsLeft(), *row.left, 1e-9) << row.what;
        }
    }
}

TEST(TimeLeft, isWordedToAsMuchAsALineKeepsTo)
{
    const std::pair<std::optional<double>, const char *> rows[] = {
        {std::nullopt, ""},
        {0, "a few seconds left"},
        {9.9, "a few seconds left"},
        {44, "about 40 s left"},
        {54, "about 50 s left"},
        {55, "about 1 min left"},
        {150, "about 3 min left"},
        {5399, "about 90 min left"},
        {5400, "about 1 h 30 min left"},
        {7320, "about 2 h left"},
    };
    for (const auto &[seconds, text] : rows)
        EXPECT_EQ(timeLeftText(seconds), QString::fromLatin1(text)) << seconds.value_or(-1);
}

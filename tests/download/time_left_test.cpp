#include "download/time_left.h"

#include "qt_printers.h"

#include <gtest/gtest.h>
#include <vector>

using namespace ostrand;

TEST(TimeLeft, comesFromTheSmoothedRateOfTheBlocksOnceThereAreACoupleOfThemAndIsWordedToAsMuchAsALineKeepsTo)
{
    const double kNone = -1;
    const std::pair<std::vector<std::pair<double, double>>, double> rows[] = { // (seconds, fraction done)..., left
        {{{1, 0.1}, {2, 0.2}}, kNone},
        {{{1, 0.1}, {2, 0.2}, {3, 0.3}}, 7.0},
        {{{1, 0.1}, {2, 0.2}, {3, 0.3}, {8, 0.4}}, 0.6 / 0.08}, // a slow block counts a quarter
        {{{1, 0.5}, {2, 0.9}, {3, 1.2}}, 0.0},                  // past the end: never negative
        {{{1, 0.1}, {1, 0.2}, {1, 0.3}}, kNone},                // no time passed: no rate
    };
    for (const auto &[blocks, left] : rows) {
        TimeLeftEstimate estimate;
        for (const auto &[seconds, fraction] : blocks)
            estimate.blockRead(seconds, fraction);
        EXPECT_NEAR(estimate.secondsLeft().value_or(kNone), left, 1e-9) << blocks.size();
    }
    const std::pair<std::optional<double>, const char *> words[] = {
        {std::nullopt, ""}, {9.9, "a few seconds left"}, {44, "about 40 s left"}, {55, "about 1 min left"},
        {150, "about 3 min left"}, {5399, "about 90 min left"}, {5400, "about 1 h 30 min left"}, {7320, "about 2 h left"},
    };
    for (const auto &[seconds, text] : words)
        EXPECT_EQ(timeLeftText(seconds), QString::fromLatin1(text)) << seconds.value_or(-1);
}

#include "platform/text_value.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

TEST(LeadingNumber, ReadsTheNumberAtTheStartIgnoringTheRestAndIsZeroWithoutOne)
{
    EXPECT_DOUBLE_EQ(leadingNumber("001"), 1.0);
    EXPECT_DOUBLE_EQ(leadingNumber("12ab"), 12.0);
    EXPECT_DOUBLE_EQ(leadingNumber(" -2.5x"), -2.5);
    EXPECT_DOUBLE_EQ(leadingNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(leadingNumber("abc"), 0.0);
    EXPECT_DOUBLE_EQ(leadingNumber("-"), 0.0);
    EXPECT_DOUBLE_EQ(leadingNumber("x12"), 0.0);
}

TEST(RoundHalfEven, SendsHalvesToTheEvenNeighbourAndEverythingElseToTheNearest)
{
    EXPECT_EQ(roundHalfEven(2.5), 2.0);
    EXPECT_EQ(roundHalfEven(3.5), 4.0);
    EXPECT_EQ(roundHalfEven(-2.5), -2.0);
    EXPECT_EQ(roundHalfEven(-3.5), -4.0);
    EXPECT_EQ(roundHalfEven(2.4), 2.0);
    EXPECT_EQ(roundHalfEven(2.6), 3.0);
    EXPECT_EQ(roundHalfEven(-2.6), -3.0);
}

TEST(LeadingNumberAsInt16, AcceptsValuesThatRoundIntoTheSigned16BitRange)
{
    EXPECT_EQ(leadingNumberAsInt16("32767"), std::optional<qint16>(32767));
    EXPECT_EQ(leadingNumberAsInt16("-32768.5"), std::optional<qint16>(-32768));
    EXPECT_EQ(leadingNumberAsInt16("12ab"), std::optional<qint16>(12));
    EXPECT_EQ(leadingNumberAsInt16("abc"), std::optional<qint16>(0));
}

TEST(LeadingNumberAsInt16, RefusesValuesThatWouldWrap)
{
    EXPECT_EQ(leadingNumberAsInt16("32768"), std::nullopt);
    EXPECT_EQ(leadingNumberAsInt16("32767.5"), std::nullopt); // rounds up to 32768
    EXPECT_EQ(leadingNumberAsInt16("1000000"), std::nullopt);
    EXPECT_EQ(leadingNumberAsInt16("-32769"), std::nullopt);
}

TEST(WholeTextAsInt16, AcceptsOnlyANumberWithBlanksAroundItAndRoundsIt)
{
    EXPECT_EQ(wholeTextAsInt16(" 1"), std::optional<qint16>(1));
    EXPECT_EQ(wholeTextAsInt16("-1"), std::optional<qint16>(-1));
    EXPECT_EQ(wholeTextAsInt16("2.5"), std::optional<qint16>(2));
    EXPECT_EQ(wholeTextAsInt16("3.5 "), std::optional<qint16>(4));
    for (const char *refused : {"1x", "", "  ", "abc", "40000"})
        EXPECT_EQ(wholeTextAsInt16(refused), std::nullopt) << refused;
}

} // namespace
} // namespace ostrand

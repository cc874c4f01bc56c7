#include "display/display_block.h"
#include "display/flow_pattern.h"
#include "display/text_display.h"
#include "display_test_support.h"
#include "qt_printers.h"

#include <gtest/gtest.h>
#include <limits>

using namespace ostrand;
using namespace ostrand::testing;

TEST(FlowPattern, writesAtMostItsDecimalsRoundingHalvesOfTheShownDigitsAwayFromZero)
{
    const struct {
        double value;
        int decimals;
        const char *expected;
        // clang-format off
    } rows[] = {
        {12.375, 2, "12.38"}, {-12.375, 2, "-12.38"}, {12.3, 2, "12.3"}, {12, 2, "12."},
        {0.25, 2, ".25"}, {0, 2, "."}, {1.5, 0, "2."}, {2.5, 0, "3."}, {-2.5, 0, "-3."},
        {2.675, 2, "2.68"}, {999.995, 2, "1000."}, {0.0004, 3, "."}, {0.0005, 3, ".001"},
        {-1e-37, 1, "-."}, {1e37, 0, "10000000000000000000000000000000000000."},
        {std::numeric_limits<double>::infinity(), 2, "inf"},
    };
    // clang-format on
    for (const auto &row : rows)
        EXPECT_EQ(formatFlowPattern(row.value, row.decimals), row.expected)
            << row.value << "/" << row.decimals;
}

TEST(DisplayBlockDecoding, labelsEachValueInTheChosenUnitsAndListsTheSetAlarmBits)
{
    using S = DisplaySelection;
    const auto M8100 = MeterType::Model8100, M8300 = MeterType::Model8300, R1900 = MeterType::R1900Portable;
    const QString five = " Setpoint 1  Setpoint 2  Setpoint 3  Lost Signal  4-20 Loop#1 ";
    const struct {
        QByteArray block;
        S selection;
        int line;
        QString expected;
    } rows[] = {
        {displayBlock(1.5, 0), {M8100, 0, -1, 2, -1}, 0, "Flow = 673.25"},
        {displayBlock(1.5, 0), {M8100, 3, -1, 0, -1}, 0, "Flow = 2."},
        {displayBlock(1.5, 0), {M8100, 15, -1, 99, -1}, 0, "Flow = 1.5"}, // beyond the lists: as -1
        {displayBlock(0, 0), {M8100, 0, -1, 2, -1}, 0, "Flow = ."},
        {displayBlock(0, 2), {M8100, -1, -1, 0, 1}, 1, "Velocity = 0.6096"}, // MPS shows 0.6096 for 2 ft/s
        // The second total byte weighs 4096.
        {displayBlock(0, 0, "00010000"), {M8100, -1, 5, -1, -1}, 2, "Forward Total = 4096"},
        {displayBlock(0, 0, "00010000"), {M8100, -1, 0, -1, -1}, 2, "Forward Total = 30640.205824"},
        {displayBlock(0, 0, "01000000"), {M8100, -1, 99, -1, -1}, 2, "Forward Total = 65536"},
        {displayBlock(0, 0, "FFFFFFFF"), {M8100, -1, -1, -1, -1}, 2, "Forward Total = 17821695"},
        {displayBlock(0, 0, "00000001"), {M8100, -1, 6, -1, -1}, 2, "Forward Total = 2.2956E-05"},
        {displayBlock(0, 0, "00000000", "00010000"), {M8300, -1, 0, -1, -1}, 3, "Reverse Total = 30640.205824"},
        {displayBlock(0, 0, "00000000", "00000000", 64), {M8100}, kAlarmLine, ""},
        {displayBlock(0, 0, "00000000", "00000000", 9), {R1900}, kAlarmLine, " Setpoint 1  Lost Signal "},
        {displayBlock(0, 0, "00000000", "00000000", 6.9f), {M8100}, kAlarmLine, " Setpoint 2  Setpoint 3 "},
        {displayBlock(0, 0, "00000000", "00000000", 63), {R1900}, kAlarmLine, five},
        {displayBlock(0, 0, "00000000", "00000000", 63), {M8300}, kAlarmLine, five + " 4-20 Loop#2 "},
        // Beyond 32 bits, and below zero (the meter's negative zero is -1E-37): no bit is set.
        {displayBlock(0, 0, "00000000", "00000000", 2147483648.0f), {M8300}, kAlarmLine, ""},
        {displayBlock(0, 0, "00000000", "00000000", 1e37f), {M8300}, kAlarmLine, ""},
        {displayBlock(0, 0, "00000000", "00000000", -0.0f), {M8300}, kAlarmLine, ""},
        {displayBlock(0, 0, "00000000", "00000000", -63), {M8100}, kAlarmLine, ""},
    };
    for (const auto &row : rows)
        EXPECT_EQ(decodeDisplayBlock(row.block, row.selection).lines[row.line].value_or("<not written>"), row.expected)
            << row.expected.toStdString();
}

TEST(TextDisplayCleaning, replacesBytesUpTo10AndFrom254WithByte157AndKeepsTheRestAndTheLength)
{
    const QByteArray raw("\x00\x01\x0a\x0b Flow\x7f\x9d\xe9\xfd\xfe\xff", 15);
    EXPECT_EQ(cleanDisplayText(raw),
              QByteArray("\x9d\x9d\x9d\x0b Flow\x7f\x9d\xe9\xfd\x9d\x9d", 15));
    EXPECT_EQ(displayLineText(QByteArray("\xe9\xfe", 2)), QString(QChar(0xE9)) + QChar(0x9D));
}

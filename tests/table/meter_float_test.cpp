#include "table/meter_float.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

// clang-format off
TEST(MeterFloat, DecodesTheMetersFloatsWithinItsLimitsAndWritesThemAsUsEnglishText)
{
    const struct { int b1, b2, b3, b4; double value; const char *text, *total; } cases[] = {
        {0x3F, 0xC0, 0, 0, 1.5, "1.5", "1"},          {0x41, 0x20, 0, 0, 10, "10", "10"},
        {0xC2, 0xC8, 0, 0, -100, "-100", "-100"},      {0, 0, 0, 0, 0, "0", "0"},
        {0x00, 0xFF, 0xFF, 0xFF, 0, "0", "0"},         {0x80, 0, 0, 0, -1e-37, "-1E-37", "-1"},
        {0x01, 0x00, 0, 0, 0x1p-125, "2.35098870164458E-38", "0"},
        {0x3D, 0xCC, 0xCC, 0xCD, double(0.1f), "0.100000001490116", "0"},
        {0x7E, 0x00, 0, 0, 1e37, "1E+37", "1E+37"},   {0x7F, 0x7F, 0xFF, 0xFF, 1e37, "1E+37", "1E+37"},
        {0xFF, 0x80, 0, 0, -1e37, "-1E+37", "-1E+37"}, {0xFE, 0x00, 0, 0, -0x1p125, "-4.25352958651173E+37", "-4.25352958651173E+37"},
        {0xBF, 0x00, 0, 0, -0.5, "-0.5", "-1"},        {0x46, 0x40, 0xE7, 0x9A, 12345.900390625, "12345.900390625", "12345"},
        {0x37, 0xD1, 0xB7, 0x17, double(2.5e-5f), "2.49999993684469E-05", "0"},
        {0x38, 0xD1, 0xB7, 0x17, double(1e-4f), "9.99999974737875E-05", "0"},
    };
    for (const auto &c : cases) {
        const double value = decodeMeterFloat(c.b1, c.b2, c.b3, c.b4);
        EXPECT_EQ(value, c.value) << std::hex << c.b1 << ' ' << c.b2 << ' ' << c.b3 << ' ' << c.b4;
        EXPECT_EQ(valueText(value), c.text);
        EXPECT_EQ(totalValueText(value), c.total) << c.text;
    }
    const std::pair<double, const char *> texts[] = {
        {0.25, "0.25"}, {0.0001, "0.0001"}, {1e15, "1E+15"}, {12345678.9, "12345678.9"},
        {123456789012345, "123456789012345"}, {2.0 / 3, "0.666666666666667"}};
    for (const auto &[value, text] : texts)
        EXPECT_EQ(valueText(value), text);
}
// clang-format on

} // namespace
} // namespace ostrand

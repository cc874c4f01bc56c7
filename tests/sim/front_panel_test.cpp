#include "reference_reader.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;
using namespace ostrand::sim::testing;

namespace {

// Drives the meter only through its Modbus face: keys into register 208, lines out of 24-63.
class Keypad {
public:
    explicit Keypad(const QStringList &arguments = {}) : built_(meterFrom(arguments)) {}
    Meter &meter() { return *built_.meter; }

    bool press(char key)
    {
        const QByteArray data = QByteArray::fromHex("00D0000102") + key + key;
        return !meter()
                    .respond(request(meter().slaveAddress(), 0x10, data), testNow())
                    .bytes.isEmpty();
    }
    void type(const char *keys)
    {
        for (const char *k = keys; *k; ++k)
            press(*k);
    }
    // Display line `n` (0-3) as the text poll reads it.
    QString line(int n)
    {
        const QByteArray start =
            QByteArray::fromHex("00") + char(24 + 10 * n) + QByteArray::fromHex("000A");
        const QByteArray reply =
            meter().respond(request(meter().slaveAddress(), 3, start), testNow()).bytes;
        EXPECT_EQ(reply.size(), 25);
        return QString::fromLatin1(reply.mid(3, 20));
    }
    QString text(int n) { return line(n).trimmed(); }

private:
    BuiltMeter built_;
};

} // namespace

TEST(FrontPanel, StartsOnTheMainScreenAndSecondFlipsToTheSecondPage)
{
    Keypad keypad({"--records", "10", "--channels", "2"});
    EXPECT_TRUE(keypad.line(0).startsWith("Flow") && keypad.text(0).endsWith("CFS"));
    EXPECT_TRUE(keypad.line(1).startsWith("Vel"));
    EXPECT_TRUE(keypad.line(2).contains("152340"));
    EXPECT_EQ(keypad.line(3), QStringLiteral("12/06/26 14:07 ID  1"));
    keypad.press('F');
    EXPECT_TRUE(keypad.line(0).startsWith("Rev Total"));
    EXPECT_EQ(keypad.text(2), QStringLiteral("Log 20/32736"));
}
TEST(FrontPanel, MenuOpensTheSetupMenuWhereDownAndUpMoveTheCursorAndHelpExplains)
{
    Keypad keypad;
    keypad.press('M');
    EXPECT_EQ(keypad.line(0), QStringLiteral("---- SETUP MENU ----"));
    EXPECT_EQ(keypad.text(1), QStringLiteral(">1 Modbus Address"));
    keypad.press('L');
    EXPECT_EQ(keypad.text(2), QStringLiteral(">2 Log Interval"));
    keypad.type("NN");
    EXPECT_EQ(keypad.text(3), QStringLiteral(">5 Meter Info")) << "Up/Next wraps to the last item";
    keypad.type("X.");
    EXPECT_EQ(keypad.text(0), QStringLiteral("Model and log use"))
        << "help; unknown keys do nothing";
    keypad.press('M');
    EXPECT_TRUE(keypad.line(0).startsWith("Flow"));
}

TEST(FrontPanel, DigitsTypedIntoAFieldShowUpDownRubsOutAndEnterStoresOnlyWhatIsInRange)
{
    Keypad keypad;
    keypad.type("M2E");
    EXPECT_EQ(keypad.text(0), QStringLiteral("Log Interval"));
    EXPECT_EQ(keypad.text(1), QStringLiteral("Now: 15"));
    keypad.type("47");
    EXPECT_EQ(keypad.text(2), QStringLiteral("New: 47_"));
    keypad.type("L5");
    EXPECT_EQ(keypad.text(2), QStringLiteral("New: 45_"));
    keypad.press('E');
    EXPECT_EQ(keypad.text(0), QStringLiteral("Saved"));
    EXPECT_EQ(keypad.meter().intervalMinutes(), 45);

    keypad.type("E99E");
    EXPECT_EQ(keypad.text(0), QStringLiteral("Range 1-60"));
    EXPECT_EQ(keypad.text(2), QStringLiteral("New: _")) << "a refused entry is cleared";
    EXPECT_EQ(keypad.meter().intervalMinutes(), 45);
}

TEST(FrontPanel, ClearsTotalsChangesUnitsAndTakesANewAddressAfterTheKeysReply)
{
    Keypad keypad;
    keypad.type("ME12");
    EXPECT_TRUE(keypad.press('E')) << "Enter itself is still answered on address 1";
    EXPECT_TRUE(keypad.meter().respond(request(1, 0x63), testNow()).bytes.isEmpty());
    EXPECT_EQ(keypad.meter().respond(request(12, 0x63), testNow()).bytes.size(), 26);
    keypad = Keypad();
    const double cfs = keypad.line(0).mid(5, 10).toDouble();
    keypad.type("M3EL");
    EXPECT_TRUE(keypad.line(2).contains("< GPM >"));
    keypad.type("EM");
    EXPECT_TRUE(keypad.text(0).endsWith("GPM"));
    EXPECT_NEAR(keypad.line(0).mid(5, 10).toDouble(), cfs * 448.831, 1.0);
    keypad = Keypad();
    keypad.type("M4EMM");
    EXPECT_TRUE(keypad.line(2).contains("152340")) << "Menu backs out without clearing";
    keypad.type("M4EE");
    EXPECT_EQ(keypad.text(0), QStringLiteral("Totals cleared"));
    keypad.press('M');
    EXPECT_EQ(keypad.text(2), QStringLiteral("Total          0 CF"));
}

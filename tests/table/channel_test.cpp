#include "qt_printers.h"
#include "table/channel.h"
#include "table/channel_name.h"

#include <gtest/gtest.h>

#include <tuple>

namespace ostrand {
namespace {

TEST(ChannelName, DropsErasedBytesAndKeepsEveryOtherCharacter)
{
    EXPECT_EQ(cleanChannelName(QByteArray("Flow") + QByteArray(12, char(0xFF))), "Flow");
    EXPECT_EQ(cleanChannelName(QString::fromUtf8("D\u00E9\u00FEbit\u00FF \u20AC")), "D\u00E9bit \u20AC");
}

// What a channel holds after taking a label, from a channel an earlier
// download left in use as a total.
struct Taken {
    bool taken, inUse, total;
};

// clang-format off
TEST(Channel, TakesALabelByTheNotUsedRuleOfItsSourceAndKeepsEarlierFlagsForAnEmptyOne)
{
    const struct { const char *text; Taken meter, palm; } cases[] = {
        {"Flow",        {true, true, false},  {true, true, false}},
        {"Flow Tot",    {true, true, true},   {true, true, true}},
        {"Totalizer",   {true, true, true},   {true, true, true}},
        {"flow total",  {true, true, false},  {true, true, false}},
        {"Not Used",    {false, false, true}, {false, false, true}},
        {"Not Used  ",  {true, true, false},  {false, false, true}},
        {"Not Used 2",  {true, true, false},  {false, false, true}},
        {"Not Use",     {true, true, false},  {true, true, false}},
        {"not used",    {true, true, false},  {true, true, false}},
        {" Not Used",   {true, true, false},  {true, true, false}},
        {"",            {false, true, true},  {false, true, true}},
    };
    for (const auto &c : cases) {
        const QString text = QString::fromLatin1(c.text);
        EXPECT_EQ(meterLabelMeansNotUsed(text), !c.meter.inUse) << c.text;
        EXPECT_EQ(palmLabelMeansNotUsed(text), !c.palm.inUse) << c.text;
        for (const bool fromMeter : {true, false}) {
            Channel channel{QString(), true, true};
            const bool taken = fromMeter ? channel.takeMeterLabel(text) : channel.takePalmLabel(text);
            const Taken &want = fromMeter ? c.meter : c.palm;
            EXPECT_EQ(std::make_tuple(taken, channel.inUse, channel.total),
                      std::make_tuple(want.taken, want.inUse, want.total))
                << c.text << (fromMeter ? " from the meter" : " from the handheld");
            EXPECT_EQ(channel.label, want.taken ? text : QString()) << c.text;
        }
    }
}

TEST(Channel, NamesTheUnitItsLabelEndsWith)
{
    const struct { const char *label, *unit; } cases[] = {
        {"Flow (GPM)", "GPM"},   {"Flow ( m3/h )", "m3/h"}, {" Level ft ", "ft"},
        {"Total Gal", "Gal"},    {"Head m3", "m3"},         {"Flow", ""},
        {"Channel 3", ""},       {"Pressure Pascal", ""},   {"Flow ()", ""},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Channel{QString::fromLatin1(c.label)}.unit(), QString::fromLatin1(c.unit)) << c.label;
}
// clang-format on

TEST(Channel, ANewRunForgetsTheLabelsButNotTheFlags)
{
    Channels channels;
    channels[0].takeMeterLabel(QStringLiteral("Flow Tot"));
    channels[7].takePalmLabel(QStringLiteral("Level"));
    clearChannelLabels(channels);
    EXPECT_EQ(std::make_tuple(channels[0].label, channels[0].inUse, channels[0].total),
              std::make_tuple(QString(), true, true));
    EXPECT_EQ(std::make_tuple(channels[7].label, channels[7].inUse),
              std::make_tuple(QString(), true));
}

} // namespace
} // namespace ostrand

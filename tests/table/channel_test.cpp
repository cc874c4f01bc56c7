#include "table/channel_name.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

namespace ostrand {
namespace {

TEST(ChannelName, DropsErasedBytesAndKeepsEveryOtherCharacter)
{
    EXPECT_EQ(cleanChannelName(QByteArray("Flow") + QByteArray(12, char(0xFF))), "Flow");
    EXPECT_EQ(cleanChannelName(QString::fromUtf8("D\u00E9\u00FEbit\u00FF \u20AC")), "D\u00E9bit \u20AC");
}

} // namespace
} // namespace ostrand

#include "link/crc16.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "metersim_process.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/shared_state.h"
#include "platform/system_clock.h"
#include "qt_printers.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// The program's real link, through a COM1 link beside it, to the simulated meter.
class LinkEndToEnd : public ::testing::Test {
protected:
    void startMeter(const QStringList &arguments = {})
    {
        ASSERT_TRUE(sim.start(dir.path(), arguments + QStringList{"--records", "40", "--channels", "3"}));
        shared.CommPortNumber = 1;
        shared.BaudRateText = QStringLiteral("38400");
        shared.SlaveId = 1;
    }

    QTemporaryDir dir;
    MeterSimProcess sim;
    SharedState shared;
    QtSerialPort port{dir.path()};
    SystemClock clock;
    QtEventPump pump;
    SerialLink serial{port, clock, pump, shared};
    MeterLink link{serial};
};

} // namespace

TEST_F(LinkEndToEnd, pointerRegistersChannelLabelsAndLogBlocksComeBackWithGoodCrcs)
{
    startMeter();
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 76, 8));
    ASSERT_EQ(link.ReplyData.size(), 16);
    EXPECT_EQ(static_cast<quint8>(link.ReplyData[1]), 8) << "the log starts in bank 8";

    ASSERT_TRUE(link.ReadLogBlock(1, 0x18, 0x81, 0x00, 100));
    ASSERT_EQ(link.ReplyData.size(), 200);
    EXPECT_TRUE(link.ReplyData.mid(64, 32).startsWith("Flow"));

    ASSERT_TRUE(link.ReadLogBlock(1, 8, 0x80, 0x00, 128));
    EXPECT_EQ(link.ReplyData.size(), 256);
}

TEST_F(LinkEndToEnd, theConfirmationMovesTheLastDownloadPointer)
{
    startMeter();
    ASSERT_TRUE(link.ReadLastDownloadPointer(1));
    const QByteArray before = link.LastDownloadPointer;
    ASSERT_TRUE(link.ConfirmDownload(1));
    QElapsedTimer wait;
    wait.start();
    while (sim.count(QStringLiteral("confirmed")) == 0 && wait.elapsed() < 3000)
        pump.yield(20);
    EXPECT_EQ(sim.count(QStringLiteral("confirmed")), 1);
    ASSERT_TRUE(link.ReadLastDownloadPointer(1));
    EXPECT_NE(link.LastDownloadPointer, before);
}

TEST_F(LinkEndToEnd, aKeyWrittenToTheMeterChangesItsTextDisplay)
{
    startMeter();
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 24, 40));
    const QByteArray before = link.ReplyData;
    link.RegisterHighBytes[0] = link.RegisterLowBytes[0] = 'M';
    ASSERT_TRUE(link.WriteRegisters(1, 208, 1, 2));
    ASSERT_TRUE(link.ReadHoldingRegisters(1, 0, 24, 40));
    EXPECT_EQ(link.ReplyData.size(), 80);
    EXPECT_NE(link.ReplyData, before) << "the menu key opens the menu";
}

TEST_F(LinkEndToEnd, theDisplayBlockHasItsTwentyBytes)
{
    startMeter();
    ASSERT_TRUE(link.ReadDisplayBlock(1));
    EXPECT_EQ(link.ReplyData.size(), 20);
}

TEST_F(LinkEndToEnd, aCorruptedMeterAndASilentOneFailWithoutHanging)
{
    startMeter({"--corrupt-crc"});
    EXPECT_FALSE(link.ReadHoldingRegisters(1, 0, 76, 8));
    EXPECT_FALSE(link.ReadDisplayBlock(1));
}

TEST_F(LinkEndToEnd, aLongBlockAtTwelveHundredBaudArrivesWhole)
{
    startMeter({"--baud", "1200"});
    shared.BaudRateText = QStringLiteral("1200");
    ASSERT_TRUE(link.ReadLogBlock(1, 8, 0x80, 0x00, 128));
    EXPECT_EQ(link.ReplyData.size(), 256);
}

#include "link/meter_link.h"
#include "link/serial_link.h"
#include "metersim_process.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "qt_printers.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// The program's real link, through a COM1 link beside it, to the simulated meter.
class LinkEndToEnd : public ::testing::Test {
protected:
    void startMeter(const QStringList &arguments = {}, const char *baud = "38400")
    {
        ASSERT_TRUE(sim.start(dir.path(), arguments + QStringList{"--records", "40", "--channels", "3"}));
        serial.setSettings({1, QString::fromLatin1(baud), 1});
    }

    QTemporaryDir dir;
    MeterSimProcess sim;
    QtSerialPort port{dir.path()};
    SystemClock clock;
    QtEventPump pump;
    SerialLink serial{port, clock, pump};
    MeterLink link{serial};
};

} // namespace

TEST_F(LinkEndToEnd, everyExchangeComesBackWithAGoodCrc)
{
    startMeter();
    const auto registers = link.readHoldingRegisters(1, 76, 8);
    ASSERT_TRUE(registers);
    ASSERT_EQ(registers->size(), 16);
    EXPECT_EQ(static_cast<quint8>(registers->at(1)), 8) << "the log starts in bank 8";
    const auto setup = link.readLogBlock(1, 0x18, 0x81, 0x00, 100);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(setup->mid(64, 32).startsWith("Flow"));
    EXPECT_EQ(link.readLogBlock(1, 8, 0x80, 0x00, 128)->size(), 256);
    EXPECT_EQ(link.readDisplayBlock(1)->size(), 20);

    const auto text = link.readHoldingRegisters(1, 24, 40);
    ASSERT_TRUE(text);
    ASSERT_TRUE(link.writeRegisters(1, 208, {'M' << 8 | 'M'}));
    EXPECT_NE(*link.readHoldingRegisters(1, 24, 40), *text) << "the menu key opens the menu";

    const auto before = link.readLastDownloadPointer(1);
    ASSERT_TRUE(before);
    ASSERT_TRUE(link.confirmDownload(1));
    EXPECT_TRUE(sim.waitFor(QStringLiteral("confirmed")));
    EXPECT_NE(*link.readLastDownloadPointer(1), *before);
}

TEST_F(LinkEndToEnd, aCorruptedMeterFailsWithoutHanging)
{
    startMeter({"--corrupt-crc"});
    EXPECT_EQ(link.readHoldingRegisters(1, 76, 8).error(), LinkError::CrcError);
    EXPECT_FALSE(link.readDisplayBlock(1));
}

TEST_F(LinkEndToEnd, aLongBlockAtTwelveHundredBaudArrivesWhole)
{
    startMeter({"--baud", "1200"}, "1200");
    EXPECT_EQ(link.readLogBlock(1, 8, 0x80, 0x00, 128)->size(), 256);
}

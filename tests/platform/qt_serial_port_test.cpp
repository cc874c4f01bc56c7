#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "pseudo_terminal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace ostrand {
namespace {

// A pty linked as COM1 beside a pretend program folder, and the port under test.
class QtSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programDir.isValid());
        plugIn();
    }
    void plugIn()
    {
        pty = std::make_unique<PseudoTerminal>();
        ASSERT_TRUE(pty->isValid());
        QFile::remove(programDir.filePath("COM1"));
        ASSERT_TRUE(QFile::link(pty->slavePath(), programDir.filePath("COM1")));
    }
    // Pumps events until `done` or a generous deadline; true if `done` came true.
    bool pumpUntil(const std::function<bool()> &done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000)
            pump.yield(20);
        return done();
    }

    QTemporaryDir programDir;
    std::unique_ptr<PseudoTerminal> pty;
    QtSerialPort port{programDir.path()};
    QtEventPump pump;
};

TEST_F(QtSerialPortTest, SendsBytesThroughTheComLinkToTheFarEnd)
{
    ASSERT_TRUE(port.open(1, "9600")) << port.errorString().toStdString();
    EXPECT_TRUE(port.isOpen());
    const QByteArray request("\x11\x03\x00\x00\x00\x02\xc6\x9b", 8);
    ASSERT_TRUE(port.send(request));
    EXPECT_EQ(pty->read(request.size(), 5000), request);
}

TEST_F(QtSerialPortTest, ReceivesWhatTheFarEndWritesWhileEventsArePumped)
{
    ASSERT_TRUE(port.open(1, "19200"));
    const QByteArray reply("\x11\x03\x04\x00\x0a\xff\x00", 7);
    ASSERT_TRUE(pty->write(reply));
    ASSERT_TRUE(pumpUntil([&] { return port.receivedCount() >= reply.size(); }));
    EXPECT_EQ(port.read(3), reply.left(3));
    EXPECT_EQ(port.read(100), reply.mid(3));
    EXPECT_EQ(port.receivedCount(), 0);
}

TEST_F(QtSerialPortTest, DiscardingInputDropsBytesAlreadyReceived)
{
    ASSERT_TRUE(port.open(1, "9600"));
    ASSERT_TRUE(pty->write("stale"));
    ASSERT_TRUE(pumpUntil([&] { return port.receivedCount() >= 5; }));
    port.discardInput();
    EXPECT_EQ(port.receivedCount(), 0);
    ASSERT_TRUE(pty->write("new"));
    ASSERT_TRUE(pumpUntil([&] { return port.receivedCount() >= 3; }));
    EXPECT_EQ(port.read(100), QByteArray("new"));
}

TEST_F(QtSerialPortTest, OpeningAnOpenPortKeepsItAsItWasAndAClosedOneCannotSend)
{
    ASSERT_TRUE(port.open(1, "9600"));
    EXPECT_TRUE(port.open(1, "nonsense"));
    port.close();
    port.close(); // twice is harmless
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(port.send("x"));
}

TEST_F(QtSerialPortTest, RefusesABaudRateThatIsNotAPositiveWholeNumber)
{
    for (const char *bad : {"", "fast", "0", "-9600", "96OO"}) {
        EXPECT_FALSE(port.open(1, bad)) << bad;
        EXPECT_FALSE(port.isOpen());
        EXPECT_TRUE(port.errorString().contains("Baud")) << port.errorString().toStdString();
    }
}

TEST_F(QtSerialPortTest, FailsWithAReasonWhenTheDeviceIsMissing)
{
    QFile::remove(programDir.filePath("COM2"));
    ASSERT_TRUE(QFile::link(programDir.filePath("gone"), programDir.filePath("COM2")));
    EXPECT_FALSE(port.open(2, "9600"));
    EXPECT_TRUE(port.errorString().contains("COM2")) << port.errorString().toStdString();
    EXPECT_FALSE(port.open(0, "9600"));
    EXPECT_FALSE(port.errorString().isEmpty());
}

TEST_F(QtSerialPortTest, ClosesItselfWhenTheDeviceVanishesAndReopensOnceItIsBack)
{
    ASSERT_TRUE(port.open(1, "9600"));
    pty->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return !port.isOpen(); }));
    EXPECT_FALSE(port.send("x"));
    EXPECT_EQ(port.receivedCount(), 0);
    EXPECT_FALSE(port.errorString().isEmpty());

    plugIn();
    ASSERT_TRUE(port.open(1, "9600")) << port.errorString().toStdString();
    ASSERT_TRUE(port.send("again"));
    EXPECT_EQ(pty->read(5, 5000), QByteArray("again"));
}

} // namespace
} // namespace ostrand

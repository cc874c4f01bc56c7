#include "platform/com_port_names.h"
#include "pseudo_terminal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

class ComPortNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programDir.isValid());
        ASSERT_TRUE(pty.isValid());
    }
    QString linkPath(int n) const { return programDir.filePath(QStringLiteral("COM%1").arg(n)); }
    QTemporaryDir programDir;
    PseudoTerminal pty;
};

TEST_F(ComPortNames, ALinkBesideTheProgramNamesTheDeviceItPointsAt)
{
    ASSERT_TRUE(QFile::link(pty.slavePath(), linkPath(1)));
    const QString device = resolveComDevice(programDir.path(), 1);
    EXPECT_EQ(device, QFileInfo(pty.slavePath()).canonicalFilePath());
    EXPECT_EQ(describeComDevice(programDir.path(), 1), QStringLiteral("COM1 → ") + device);
}

TEST_F(ComPortNames, OnlyTheLinkWithTheRightNumberCounts)
{
    ASSERT_TRUE(QFile::link(pty.slavePath(), linkPath(2)));
    const QString device = QFileInfo(pty.slavePath()).canonicalFilePath();
    EXPECT_NE(resolveComDevice(programDir.path(), 3), device);
    EXPECT_EQ(resolveComDevice(programDir.path(), 2), device);
}

TEST_F(ComPortNames, ALinkToAMissingDeviceIsKeptRatherThanFallingBackToAnotherPort)
{
    ASSERT_TRUE(QFile::link(programDir.filePath("no-such-adapter"), linkPath(4)));
    EXPECT_EQ(resolveComDevice(programDir.path(), 4), linkPath(4));
    EXPECT_TRUE(describeComDevice(programDir.path(), 4).contains("missing"));
}

TEST_F(ComPortNames, APlainFileNamedComNIsUsedAsTheDevice)
{
    QFile file(linkPath(2));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(resolveComDevice(programDir.path(), 2), QFileInfo(linkPath(2)).canonicalFilePath());
}

#ifndef Q_OS_WIN
TEST_F(ComPortNames, WithoutALinkComNIsTheNthBuiltInSerialPort)
{
    EXPECT_EQ(resolveComDevice(programDir.path(), 1), "/dev/ttyS0");
    EXPECT_EQ(resolveComDevice(programDir.path(), 4), "/dev/ttyS3");
    EXPECT_EQ(describeComDevice(programDir.path(), 3), "COM3 → /dev/ttyS2");
}
#endif

TEST_F(ComPortNames, NoPortChosenResolvesToNothing)
{
    EXPECT_TRUE(resolveComDevice(programDir.path(), 0).isEmpty());
    EXPECT_FALSE(describeComDevice(programDir.path(), 0).isEmpty());
}

} // namespace
} // namespace ostrand

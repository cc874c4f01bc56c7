#include "monitor/port_discovery.h"
#include "platform/com_port_names.h"
#include "pseudo_terminal.h"
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;

namespace {

// A program folder and a pseudo-terminal standing in for a USB adapter.
class ComLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programDir.isValid());
        ASSERT_TRUE(pty.isValid());
    }
    QString comPath(int n) const { return programDir.filePath(QStringLiteral("COM%1").arg(n)); }
    QString device() const { return QFileInfo(pty.slavePath()).canonicalFilePath(); }

    QTemporaryDir programDir;
    PseudoTerminal pty;
};

TEST_F(ComLink, anEarlierLinkIsReplacedAndNoTemporaryIsLeftBehind)
{
    ASSERT_TRUE(linkComPort(programDir.path(), 1, programDir.filePath("unplugged-adapter")));
    EXPECT_TRUE(describeComDevice(programDir.path(), 1).endsWith("(missing)"));
    ASSERT_TRUE(linkComPort(programDir.path(), 1, pty.slavePath()));
    EXPECT_EQ(resolveComDevice(programDir.path(), 1), device());
    EXPECT_EQ(QDir(programDir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList({"COM1"}));
}

TEST_F(ComLink, aRegularFileOrFolderNamedComNIsNeverReplaced)
{
    QFile plain(comPath(3));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("kept");
    plain.close();
    QString error;
    EXPECT_FALSE(linkComPort(programDir.path(), 3, pty.slavePath(), &error));
    EXPECT_TRUE(error.contains("COM3") && error.contains("not a link")) << error.toStdString();
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), "kept");
    EXPECT_FALSE(QFileInfo(comPath(3)).isSymLink());

    ASSERT_TRUE(QDir(programDir.path()).mkdir("COM4"));
    EXPECT_FALSE(linkComPort(programDir.path(), 4, pty.slavePath(), &error));
    EXPECT_TRUE(error.contains("folder")) << error.toStdString();
    EXPECT_TRUE(QFileInfo(comPath(4)).isDir());
}

TEST_F(ComLink, theReplugProofNameOfADeviceIsFoundAndALinkToItStillResolvesToTheDevice)
{
    QTemporaryDir byId;
    const QString stable = byId.filePath("usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    ASSERT_TRUE(
        QFile::link(programDir.filePath("elsewhere"), byId.filePath("usb-other-if00-port0")));
    ASSERT_TRUE(QFile::link(pty.slavePath(), stable));

    EXPECT_EQ(stableNameIn(byId.path(), pty.slavePath()), stable);
    EXPECT_EQ(stableNameIn(byId.path(), "/dev/null"), "");
    EXPECT_EQ(stableNameIn(byId.filePath("absent"), pty.slavePath()), "");

    ASSERT_TRUE(linkComPort(programDir.path(), 1, stable));
    EXPECT_EQ(resolveComDevice(programDir.path(), 1), device());
}

} // namespace

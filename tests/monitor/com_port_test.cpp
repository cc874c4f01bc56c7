#include "monitor/port_discovery.h"
#include "monitor/port_panel.h"
#include "platform/com_port_names.h"
#include "pseudo_terminal.h"
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;

namespace {

SerialDevice adapter(const QString &location, const QString &serial)
{
    return {QFileInfo(location).fileName(), location, QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"), serial,
            0x0403, 0x6001, {}};
}

// A program folder and a pseudo-terminal standing in for a USB adapter.
class ComPorts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(programDir.isValid() && pty.isValid()); }
    QString comPath(int n) const { return programDir.filePath(QStringLiteral("COM%1").arg(n)); }
    QString device() const { return QFileInfo(pty.slavePath()).canonicalFilePath(); }

    QTemporaryDir programDir;
    PseudoTerminal pty;
};

TEST_F(ComPorts, aLinkIsReplacedWithNoTemporaryLeftButAFileOrFolderNamedComNNever)
{
    const QString dir = programDir.path();
    ASSERT_TRUE(linkComPort(dir, 1, programDir.filePath("unplugged-adapter")));
    EXPECT_TRUE(describeComDevice(dir, 1).endsWith("(missing)"));
    ASSERT_TRUE(linkComPort(dir, 1, pty.slavePath()));
    EXPECT_EQ(resolveComDevice(dir, 1), device());
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList({"COM1"}));

    // A file or a folder in the way is someone's, never replaced.
    QFile plain(comPath(3));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly) && plain.write("kept") == 4 && QDir(dir).mkdir("COM4"));
    plain.close();
    for (const auto &[n, reason] : {std::pair{3, "not a link"}, {4, "folder"}}) {
        QString error;
        EXPECT_FALSE(linkComPort(dir, n, pty.slavePath(), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("COM%1").arg(n)) && error.contains(reason)) << error.toStdString();
    }
    EXPECT_TRUE(plain.open(QIODevice::ReadOnly) && plain.readAll() == "kept" && QFileInfo(comPath(4)).isDir());
}

TEST_F(ComPorts, theReplugProofNameOfADeviceIsFoundAndALinkToItResolvesToTheDevice)
{
    QTemporaryDir byId;
    const QString stable = byId.filePath("usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    ASSERT_TRUE(QFile::link(programDir.filePath("elsewhere"), byId.filePath("usb-other-if00-port0")));
    ASSERT_TRUE(QFile::link(pty.slavePath(), stable));
    EXPECT_EQ(stableNameIn(byId.path(), pty.slavePath()), stable);
    EXPECT_EQ(stableNameIn(byId.path(), "/dev/null"), "");
    EXPECT_EQ(stableNameIn(byId.filePath("absent"), pty.slavePath()), "");
    ASSERT_TRUE(linkComPort(programDir.path(), 1, stable));
    EXPECT_EQ(resolveComDevice(programDir.path(), 1), device());
}

TEST_F(ComPorts, thePanelPointsAComPortAtADevice)
{
    PortPanel panel(programDir.path(), [this] { return QList{adapter(pty.slavePath(), "A12345")}; });
    panel.refresh();
    QSignalSpy changed(&panel, &PortPanel::comLinkChanged);
    ASSERT_TRUE(panel.assign(2, 0));
    EXPECT_EQ(resolveComDevice(programDir.path(), 2), device());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 2);
}

TEST(PortDiscovery, adaptersPluggedInOrOutAreToldApartEvenOnTheSamePortName)
{
    const SerialDevice a = adapter("/dev/ttyUSB0", "A1"), b = adapter("/dev/ttyUSB1", "B2");
    EXPECT_TRUE(compareDevices({a, b}, {a, b}).isEmpty());
    const DeviceChanges plugged = compareDevices({a}, {a, b});
    EXPECT_TRUE(plugged.added == QList<SerialDevice>{b} && plugged.removed.isEmpty());
    // Another adapter that took the freed name is a change, not the same device.
    const DeviceChanges swapped = compareDevices({a}, {adapter("/dev/ttyUSB0", "C3")});
    EXPECT_EQ(swapped.added.size() + swapped.removed.size(), 2);
    EXPECT_EQ(describeChanges(compareDevices({a}, {})), "Unplugged: ttyUSB0 (FT232R USB UART, serial A1).");
}

} // namespace

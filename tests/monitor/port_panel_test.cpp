#include "monitor/port_panel.h"
#include "platform/com_port_names.h"
#include "pseudo_terminal.h"
#include "qt_printers.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand;

namespace {

SerialDevice adapter(const QString &location, const QString &serial)
{
    SerialDevice d;
    d.portName = QFileInfo(location).fileName();
    d.systemLocation = location;
    d.description = QStringLiteral("FT232R USB UART");
    d.manufacturer = QStringLiteral("FTDI");
    d.serialNumber = serial;
    d.vendorId = 0x0403;
    d.productId = 0x6001;
    return d;
}

TEST(PortDiscovery, adaptersPluggedInOrOutAreToldApartEvenOnTheSamePortName)
{
    const SerialDevice a = adapter("/dev/ttyUSB0", "A1");
    const SerialDevice b = adapter("/dev/ttyUSB1", "B2");
    EXPECT_TRUE(compareDevices({a, b}, {a, b}).isEmpty());

    const DeviceChanges plugged = compareDevices({a}, {a, b});
    ASSERT_EQ(plugged.added.size(), 1);
    EXPECT_EQ(plugged.added[0], b);
    EXPECT_TRUE(plugged.removed.isEmpty());
    EXPECT_EQ(describeChanges(plugged), "Plugged in: ttyUSB1 (FT232R USB UART, serial B2).");

    // Another adapter that took the freed name is a change, not the same device.
    const DeviceChanges swapped = compareDevices({a}, {adapter("/dev/ttyUSB0", "C3")});
    EXPECT_EQ(swapped.added.size(), 1);
    EXPECT_EQ(swapped.removed.size(), 1);
    EXPECT_EQ(describeChanges(compareDevices({a}, {})),
              "Unplugged: ttyUSB0 (FT232R USB UART, serial A1).");
}

// The panel over a program folder, with the devices a test says are present.
class PortPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programDir.isValid());
        ASSERT_TRUE(pty.isValid());
        present = {adapter(pty.slavePath(), "A12345")};
        panel = std::make_unique<PortPanel>(programDir.path(), [this] { return present; });
    }
    template <typename W> W *child(const char *name)
    {
        W *widget = panel->findChild<W *>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString comPath(int n) const { return programDir.filePath(QStringLiteral("COM%1").arg(n)); }
    QString comLine(int n) { return child<QLabel>("portComMap")->text().split('\n').value(n - 1); }

    QTemporaryDir programDir;
    PseudoTerminal pty;
    QList<SerialDevice> present;
    std::unique_ptr<PortPanel> panel;
};

TEST_F(PortPanelTest, pointingAComPortAtTheSelectedDeviceWritesItsLinkAndShowsWhereItLeads)
{
    auto *list = child<QListWidget>("portDeviceList");
    auto *assign = child<QPushButton>("portAssignButton");
    EXPECT_FALSE(assign->isEnabled()) << "nothing to assign before a device is chosen";
    list->setCurrentRow(0);
    child<QComboBox>("portComChoice")->setCurrentIndex(1);
    QSignalSpy changed(panel.get(), &PortPanel::comLinkChanged);
    assign->click();

    EXPECT_EQ(resolveComDevice(programDir.path(), 2),
              QFileInfo(pty.slavePath()).canonicalFilePath());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toInt(), 2);
    EXPECT_TRUE(comLine(2).endsWith("(FT232R USB UART, serial A12345)"))
        << comLine(2).toStdString();
    EXPECT_TRUE(list->item(0)->text().endsWith("[COM2]")) << list->item(0)->text().toStdString();
}

TEST_F(PortPanelTest, aRegularFileInTheWayIsReportedAndKept)
{
    QFile plain(comPath(1));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    QSignalSpy changed(panel.get(), &PortPanel::comLinkChanged);
    EXPECT_FALSE(panel->assign(1, 0));
    EXPECT_TRUE(child<QLabel>("portStatus")->text().contains("not a link"));
    EXPECT_FALSE(QFileInfo(comPath(1)).isSymLink());
    EXPECT_EQ(changed.count(), 0);
}

} // namespace

#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace ostrand {

// One serial device present on the computer, as the system lists it.
struct SerialDevice {
    QString portName;       // "ttyUSB0"
    QString systemLocation; // "/dev/ttyUSB0"
    QString description;    // "FT232R USB UART"
    QString manufacturer;   // "FTDI"
    QString serialNumber;   // "A12345"; empty for built-in ports
    int vendorId = -1;      // USB vendor and product; -1 when not a USB device
    int productId = -1;
    // A name for the same device that survives replugging (/dev/serial/by-id/...), if any.
    QString stablePath;

    bool operator==(const SerialDevice &other) const;
    bool operator!=(const SerialDevice &other) const { return !(*this == other); }
};

// Where the device list comes from; the window uses the system, tests a list of their own.
using DeviceSource = std::function<QList<SerialDevice>()>;

// Where udev keeps the replug-proof names of USB serial adapters.
inline const char kSerialByIdDir[] = "/dev/serial/by-id";

// The serial devices present now (QSerialPortInfo), ordered by port name.
QList<SerialDevice> systemSerialDevices();

// The entry of `byIdDir` that leads to the same device as `devicePath`; empty when none does.
QString stableNameIn(const QString &byIdDir, const QString &devicePath);

// What a COMn link should name: the replug-proof name when there is one, so
// COMn follows the adapter rather than the order adapters were plugged in.
QString linkTargetFor(const SerialDevice &device);

// "ttyUSB0 — FT232R USB UART, FTDI, serial A12345, 0403:6001"
QString deviceSummary(const SerialDevice &device);

// The index in `devices` of the device COM `portNumber` resolves to; -1 for none of them.
int deviceForComPort(const QList<SerialDevice> &devices, const QStringList &linkDirs, int portNumber);

// "COM3 → /dev/ttyUSB0 (FT232R USB UART, serial A12345)": where COMn leads and, when it is
// a listed device, which one.
QString comPortLine(const QList<SerialDevice> &devices, const QStringList &linkDirs, int portNumber);

// Devices that came and went between two looks, matched by location and serial number.
struct DeviceChanges {
    QList<SerialDevice> added;
    QList<SerialDevice> removed;
    bool isEmpty() const { return added.isEmpty() && removed.isEmpty(); }
};
DeviceChanges compareDevices(const QList<SerialDevice> &before, const QList<SerialDevice> &after);

// "Plugged in: ttyUSB1 (FT232R USB UART, serial B777). Unplugged: ttyUSB0." Empty when nothing
// changed.
QString describeChanges(const DeviceChanges &changes);

} // namespace ostrand

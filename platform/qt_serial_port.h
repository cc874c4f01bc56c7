#pragma once

#include "serial_port.h"

#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace ostrand {

// SerialPort over a real tty through QSerialPort. COMn is looked up in the
// link folders (see com_port_names.h) each time the port is opened.
class QtSerialPort : public SerialPort {
public:
    // `linkDirs` are where COMn links are looked for, in order.
    explicit QtSerialPort(const QStringList &linkDirs);
    explicit QtSerialPort(const QString &linkDir) : QtSerialPort(QStringList{linkDir}) {}
    ~QtSerialPort() override;

    // Opens this device whatever COM number is asked for (a tool given a device path).
    void setDeviceOverride(const QString &device) { deviceOverride_ = device; }
    bool namedByDevice() const override { return !deviceOverride_.isEmpty(); }

    // Opens COMn at `baudText` baud, 8N1; true at once when already open. The
    // device is taken by its real path, whatever link or name led to it, and
    // held with an exclusive flock() while open, so a second program reaching
    // it by any name is refused ("port in use by another program"). A device
    // the user may not open is refused with the group to join and how.
    bool open(int portNumber, const QString &baudText) override;
    // False also after the device vanished (adapter pulled) until open() succeeds again.
    bool isOpen() const override;
    // Closes the port; harmless when already closed.
    void close() override;
    // Drops received bytes, both those Qt buffered and those still in the driver.
    void discardInput() override;
    // Drops bytes not yet transmitted.
    void discardOutput() override;
    // Writes all of `bytes`; false when closed or the write failed.
    bool send(const QByteArray &bytes) override;
    // Bytes Qt has taken from the driver; they arrive while the event pump runs.
    int receivedCount() override;
    // Takes up to `count` received bytes.
    QByteArray read(int count) override;
    // Why the last open, send or the device itself failed.
    QString errorString() const override;
    QString deviceName() const override { return device_; }
    bool leadsElsewhere(int portNumber) const override;
    bool lineLost() const override { return !lostReason_.isEmpty(); }
    QString lostLineReason() const override { return lostReason_; }
    void holdDevice(bool hold) override;

private:
    // The device COM `portNumber` leads to now, by its real path when it exists;
    // empty when COMn's link has gone (never the system's port of that number).
    QString deviceFor(int portNumber) const;
    void onError(QSerialPort::SerialPortError error);
    // Takes the device's flock() through a descriptor of our own; false with
    // error_ set when another program holds the device.
    bool lockDevice(const QString &device, int portNumber);
    // How the operator chose the port: by its path, or as COMn and the device behind it.
    QString portLabel(int portNumber, const QString &device) const;
    void unlockDevice();

    QStringList linkDirs_;
    QString deviceOverride_;
    QString device_;
    QSerialPort port_;
    QString error_;
    QString lostReason_;
    int lockFd_ = -1;
    int openedPortNumber_ = 0;
    bool holdingDevice_ = false;
    QString heldDevice_; // empty until the held operation's first open
};

} // namespace ostrand

#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// The serial line as the link code sees it. Only platform/ knows what stands
// behind it (a tty through QSerialPort, or a test's scripted meter), so every
// exchange can be checked byte for byte without hardware.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens COM `portNumber` at `baudText` baud, 8 data bits, no parity, 1 stop bit.
    // False when the port cannot be opened; errorString() then says why.
    virtual bool open(int portNumber, const QString &baudText) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // Drops bytes already received and not yet read.
    virtual void discardInput() = 0;
    // Drops bytes handed to send() that have not gone out yet.
    virtual void discardOutput() = 0;

    // Queues bytes for transmission; false when the port is not open or the write failed.
    virtual bool send(const QByteArray &bytes) = 0;
    // Bytes received and waiting to be read.
    virtual int receivedCount() = 0;
    // Takes up to `count` waiting bytes, oldest first.
    virtual QByteArray read(int count) = 0;

    virtual QString errorString() const = 0;
    // The system's device behind the port last opened ("/dev/ttyUSB0"); empty when unknown.
    virtual QString deviceName() const { return QString(); }
    // Whether the user named the device itself rather than a COM number, so messages
    // name the port as the user did.
    virtual bool namedByDevice() const { return false; }
    // Whether the open line went away under us (an adapter pulled, a device
    // server gone) since it was last opened; errorString() then holds the
    // system's reason, and lostLineReason() that reason alone.
    virtual bool lineLost() const { return false; }
    virtual QString lostLineReason() const { return QString(); }
    // Whether the line is a connection over a network, which may drop and be
    // made again in the middle of an operation, and keeps no serial timing.
    virtual bool overNetwork() const { return false; }
    // Keeps open() on the device opened now, or on the next one opened, until
    // released: a link re-pointed in the middle of an operation then takes
    // effect only at the next one.
    virtual void holdDevice(bool hold) { (void)hold; }

    // Whether COM `portNumber` now leads to another device than the open one
    // (its link was pointed elsewhere, or an adapter came back under it).
    virtual bool leadsElsewhere(int portNumber) const
    {
        (void)portNumber;
        return false;
    }
};

} // namespace ostrand

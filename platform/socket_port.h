#pragma once

#include "serial_port.h"
#include "telnet_codec.h"

#include <QAbstractSocket>
#include <QTcpSocket>
#include <memory>
#include <optional>

namespace ostrand {

// The system's reason behind a socket's error, in the words messages use.
QString socketErrorReason(QAbstractSocket::SocketError error, const QString &systemText);

// A meter's serial line carried by a TCP connection, whichever side made it:
// the bytes as they come (or Telnet-decoded, when the connection speaks it),
// bounded both ways, so a far end that floods or never reads costs a fixed
// amount of memory. Subclasses say how the connection comes to be.
class SocketPort : public SerialPort {
public:
    // Bytes kept per direction: received and not yet read, and handed to
    // send() and not yet taken by the system. A meter's largest reply is a
    // few hundred bytes; a far end past this is not a meter.
    static constexpr int kMaxBufferedBytes = 64 * 1024;

    ~SocketPort() override;

    bool isOpen() const override { return open_; }
    // Ends the connection; a close asked for is no lost line.
    void close() override;
    void discardInput() override;
    // Bytes are written to the socket as they are sent; nothing waits to be dropped.
    void discardOutput() override {}
    bool send(const QByteArray &bytes) override;
    int receivedCount() override;
    QByteArray read(int count) override;
    QString errorString() const override { return error_; }
    QString deviceName() const override { return name(); }
    bool namedByDevice() const override { return true; }
    bool lineLost() const override { return !lostReason_.isEmpty(); }
    QString lostLineReason() const override { return lostReason_; }

protected:
    // Takes `socket` (connected or not); the port is open while it is connected.
    explicit SocketPort(std::unique_ptr<QTcpSocket> socket);

    // The line as every message names it.
    virtual QString name() const = 0;
    // The system's reason for the socket's last error.
    QString socketReason() const;
    // Forgets a lost line's reason and what it left unread, before a new connection.
    void startAfresh();
    // Moves what arrived into the read buffer (as room allows) and answers Telnet commands.
    void take();

    QTcpSocket &socket() { return *socket_; }
    const QTcpSocket &socket() const { return *socket_; }

    std::optional<TelnetCodec> telnet_;
    QString error_;
    bool open_ = false;

private:
    void takeUpTo(qint64 limit);
    void noteLost();

    std::unique_ptr<QTcpSocket> socket_;
    QByteArray received_;
    QString lostReason_;
};

} // namespace ostrand

#pragma once

#include "network_endpoint.h"
#include "serial_port.h"
#include "telnet_codec.h"

#include <QTcpSocket>
#include <atomic>
#include <functional>
#include <optional>

namespace ostrand {

class Clock;
class EventPump;

// A meter's serial line reached through a device server: raw RTU frames over
// TCP, or the same over Telnet with COM-port control, which also sets the
// server's serial port to the speed asked for and 8N1. The link sees a serial
// port like any other; the COM number it opens with means nothing here.
class NetworkPort : public SerialPort {
public:
    // Connects on the thread that owns the pump, whose events carry the
    // socket's progress; `stopFlag` (may be null) ends a connect under way.
    NetworkPort(NetworkEndpoint endpoint, int connectTimeoutMs, const Clock &clock, EventPump &pump,
                const std::atomic<bool> *stopFlag);
    ~NetworkPort() override;

    // Connects, within the connect time, and over RFC 2217 sets the far
    // serial port's speed to `baudText` and 8N1 and waits for the server to
    // take it. False with errorString() naming the address and the reason.
    bool open(int portNumber, const QString &baudText) override;
    bool isOpen() const override { return open_; }
    void close() override;
    void discardInput() override;
    // Bytes are written to the socket as they are sent; nothing waits to be dropped.
    void discardOutput() override {}
    bool send(const QByteArray &bytes) override;
    int receivedCount() override;
    QByteArray read(int count) override;
    QString errorString() const override { return error_; }
    QString deviceName() const override { return endpoint_.address(); }
    bool namedByDevice() const override { return true; }
    bool lineLost() const override { return !lostReason_.isEmpty(); }
    QString lostLineReason() const override { return lostReason_; }

    const NetworkEndpoint &endpoint() const { return endpoint_; }
    int connectTimeoutMs() const { return connectTimeoutMs_; }

private:
    enum class Wait { Done, TimedOut, Stopped };
    Wait waitUntil(const std::function<bool()> &done, std::int64_t deadlineMs);
    bool connectSocket(std::int64_t deadlineMs);
    bool setUpSerialSide(quint32 baud, std::int64_t deadlineMs);
    bool refuse(const QString &why);
    void take();
    void noteLost();
    QString socketReason() const;

    NetworkEndpoint endpoint_;
    int connectTimeoutMs_;
    const Clock &clock_;
    EventPump &pump_;
    const std::atomic<bool> *stopFlag_;
    QTcpSocket socket_;
    std::optional<TelnetCodec> telnet_;
    QByteArray received_;
    QString error_;
    QString lostReason_;
    bool open_ = false;
};

} // namespace ostrand

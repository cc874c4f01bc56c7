#pragma once

#include "network_endpoint.h"
#include "pumped_wait.h"
#include "socket_port.h"

#include <atomic>

namespace ostrand {

class Clock;
class EventPump;

// A meter's serial line reached through a device server: raw RTU frames over
// TCP, or the same over Telnet with COM-port control, which also sets the
// server's serial port to the speed asked for and 8N1. The link sees a serial
// port like any other; the COM number it opens with means nothing here.
class NetworkPort : public SocketPort {
public:
    // Connects on the thread that owns the pump, whose events carry the
    // socket's progress; `stopFlag` (may be null) ends a connect under way.
    NetworkPort(NetworkEndpoint endpoint, int connectTimeoutMs, const Clock &clock, EventPump &pump,
                const std::atomic<bool> *stopFlag);

    // Connects, within the connect time, and over RFC 2217 sets the far
    // serial port's speed to `baudText` and 8N1 and waits for the server to
    // take it. False with errorString() naming the address and the reason.
    bool open(int portNumber, const QString &baudText) override;

    const NetworkEndpoint &endpoint() const { return endpoint_; }
    int connectTimeoutMs() const { return connectTimeoutMs_; }

protected:
    QString name() const override { return endpoint_.address(); }

private:
    PumpedWait waitUntil(const std::function<bool()> &done, std::int64_t deadlineMs);
    bool connectSocket(std::int64_t deadlineMs);
    bool setUpSerialSide(quint32 baud, std::int64_t deadlineMs);
    bool refuse(const QString &why);

    NetworkEndpoint endpoint_;
    int connectTimeoutMs_;
    const Clock &clock_;
    EventPump &pump_;
    const std::atomic<bool> *stopFlag_;
};

} // namespace ostrand

#pragma once

#include "callin/caller_handover.h"
#include "callin/reply_filter.h"
#include "platform/serial_port.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace ostrand {
class AcceptedPort;
class Clock;
class EventPump;
}

namespace ostrand::callin {

// A station's meter that calls in, as a serial line: the connection its
// router made last, its router's own bytes taken out. When the connection
// drops, opening the line again waits a while for the router to call back;
// when a newer connection came for the station, the line counts as closed,
// so the next exchange (not the one under way) moves to it.
class CallInPort : public SerialPort {
public:
    // How long an open waits for the router to call again.
    static constexpr int kCallBackWaitMs = 5000;
    // How long a connection may be quiet under an exchange while a newer call waits.
    static constexpr int kQuietBeforeNewerMs = 2000;

    CallInPort(const Clock &clock, EventPump &pump, const std::atomic<bool> *stopFlag, CallerHandover &handover,
               QByteArray heartbeat, QByteArray prefix, QString stationName);
    ~CallInPort() override;

    // Takes the newest caller left for the station, if any; true when it did.
    bool adopt();
    bool connected() const;
    // Reads what came while no exchange runs (heartbeats), so the line stays heard.
    void idle();
    // Monotonic time the router was last heard (any byte), and the caller's address.
    std::int64_t lastHeardMs() const { return lastHeardMs_; }
    std::int64_t connectedSinceMs() const { return connectedSinceMs_; }
    QString peer() const { return peer_; }

    bool open(int portNumber, const QString &baudText) override;
    bool isOpen() const override;
    void close() override;
    void discardInput() override;
    void discardOutput() override {}
    bool send(const QByteArray &bytes) override;
    int receivedCount() override;
    QByteArray read(int count) override;
    QString errorString() const override;
    QString deviceName() const override;
    bool namedByDevice() const override { return true; }
    bool lineLost() const override;
    QString lostLineReason() const override;
    bool overNetwork() const override { return true; }

private:
    void pull();

    const Clock &clock_;
    EventPump &pump_;
    const std::atomic<bool> *stopFlag_;
    CallerHandover &handover_;
    QByteArray heartbeat_;
    QByteArray prefix_;
    QString station_;
    std::unique_ptr<AcceptedPort> connection_;
    std::unique_ptr<ReplyFilter> filter_;
    std::int64_t lastHeardMs_ = 0;
    std::int64_t connectedSinceMs_ = 0;
    QString error_;
    QString peer_;
    bool linkOpened_ = false;
    bool superseded_ = false; // closed here for a newer call
};

} // namespace ostrand::callin

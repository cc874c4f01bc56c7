#pragma once

#include "accepted_port.h"
#include "pumped_wait.h"

#include <QTcpServer>
#include <atomic>
#include <deque>
#include <memory>

namespace ostrand {

class Clock;
class EventPump;

// A TCP port that meters' routers call, each connection handed out as a
// serial line. It listens on the thread that owns the pump: connections are
// taken as that thread's events arrive, during a wait for the next caller or
// any other yield. Whoever can reach the port can call it, so what a caller
// controls is bounded: the callers kept waiting to be taken, and (by each
// port) the bytes buffered per connection.
class NetworkListener {
public:
    // Callers kept waiting to be taken unless told otherwise; one more is closed at once.
    static constexpr int kDefaultMaxWaiting = 64;

    struct NextCaller {
        enum class Outcome { Accepted, TimedOut, Stopped, NotListening };
        Outcome outcome = Outcome::NotListening;
        std::unique_ptr<AcceptedPort> port; // set when Accepted
    };

    // `stopFlag` (may be null) ends a wait for the next caller.
    NetworkListener(const Clock &clock, EventPump &pump, const std::atomic<bool> *stopFlag,
                    int maxWaiting = kDefaultMaxWaiting);
    ~NetworkListener();
    NetworkListener(const NetworkListener &) = delete;
    NetworkListener &operator=(const NetworkListener &) = delete;

    // Listens on `host` (an address of this host, "0.0.0.0", "::"; empty for
    // every address) at `port` (0: one the system picks, see port()). False
    // with errorString() naming the address and the system's reason.
    bool listen(const QString &host, quint16 port);
    // Stops listening and closes every caller not yet taken.
    void close();
    bool isListening() const { return server_.isListening(); }
    // The port listened on, the one picked when 0 was asked.
    quint16 port() const { return server_.serverPort(); }
    // "0.0.0.0:4100", as messages name the listener.
    QString address() const;
    QString errorString() const { return error_; }

    // The longest-waiting caller, or the next to call within `timeoutMs`,
    // unless the stop flag is set first. A caller that hung up while waiting
    // is still handed out, with what it sent and its line lost.
    NextCaller nextCaller(int timeoutMs);
    // Callers accepted and not yet taken.
    int waitingCount() const { return static_cast<int>(waiting_.size()); }
    // Callers closed on arrival since listening began, because too many waited.
    int refusedCount() const { return refused_; }

private:
    void acceptPending();

    const Clock &clock_;
    EventPump &pump_;
    const std::atomic<bool> *stopFlag_;
    int maxWaiting_;
    QTcpServer server_;
    QString host_;
    std::deque<std::unique_ptr<AcceptedPort>> waiting_;
    int refused_ = 0;
    QString error_;
};

} // namespace ostrand

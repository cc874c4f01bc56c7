#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;

namespace ostrand {

class Clock;

// A caller of a listening port before it is known: its connection's
// descriptor and the bytes it sent so far.
struct PendingCaller {
    int descriptor = -1;
    QByteArray bytes;
    QHostAddress address;
    QString peer; // "10.0.0.5:40122"
    std::int64_t sinceMs = 0;
};

// What the owner makes of a caller so far.
struct CallerVerdict {
    enum class Kind { Wait, Take, Refuse };
    Kind kind = Kind::Wait;
    int token = -1;  // Take: handed back with the caller
    QString reason;  // Refuse: for the log
    QByteArray rest; // Take: the bytes handed on with it (what followed its registration)
};

// Takes the calls a listening port gets and holds each one, reading what it
// sends, until the owner's judge says whose it is: then the connection's
// descriptor goes to whoever serves it (a socket made of it on another
// thread), with the bytes read so far. Whoever can reach the port can call,
// so what a caller controls is bounded here: how many wait, how many from one
// address, how many bytes and how long each may take to say who it is. Lives
// on the thread whose events it gets; expire() is called from that thread's loop.
class CallerReception {
public:
    struct Limits {
        int maxWaiting = 512;          // callers not yet known, all together
        int maxWaitingPerAddress = 16; // from one address (many routers may share one behind NAT)
        int maxBytes = 256;            // read from one before it must be known
        std::int64_t knownWithinMs = 10000;
    };
    using Judge = std::function<CallerVerdict(const PendingCaller &caller, bool timedOut)>;
    using Taken = std::function<void(PendingCaller caller, int token)>;
    using Refused = std::function<void(const PendingCaller &caller, const QString &reason)>;

    CallerReception(const Clock &clock, Limits limits, Judge judge, Taken taken, Refused refused);
    ~CallerReception();
    CallerReception(const CallerReception &) = delete;
    CallerReception &operator=(const CallerReception &) = delete;

    // Listens on `host` (empty: every address) at `port` (0: one the system picks).
    bool listen(const QString &host, quint16 port);
    void close();
    quint16 port() const;
    QString address() const;
    QString errorString() const { return error_; }
    // Judges, as timed out, every caller that took too long to be known.
    void expire();
    int waitingCount() const { return static_cast<int>(waiting_.size()); }

private:
    class Server;
    struct Waiting;

    void arrived(int descriptor);
    void readFrom(int descriptor);
    void judge(int descriptor, bool timedOut);
    void refuse(int descriptor, const QString &reason);
    void forget(int descriptor, bool closeIt);

    const Clock &clock_;
    Limits limits_;
    Judge judge_;
    Taken taken_;
    Refused refused_;
    std::unique_ptr<Server> server_;
    std::map<int, std::unique_ptr<Waiting>> waiting_;
    std::map<QString, int> perAddress_;
    QString error_;
};

} // namespace ostrand

#pragma once

#include "link/link_observer.h"
#include "link/link_result.h"
#include "link/reconnect_budget.h"
#include "link/reply_wait.h"
#include "link/serial_link.h"
#include "link/slow_path.h"

#include <QByteArray>
#include <QVector>
#include <utility>
#include <optional>

namespace ostrand {

class Exchange;
class WaitClock;
struct ExchangeTiming;

// Every Modbus exchange with the meter. Each call sends its request, waits
// (yielding to the window) by the meter's timing rules, checks the reply's
// CRC and returns the reply's data or why there is none, as a LinkFailure
// that failureText() puts in words.
//
// Only one exchange runs at a time: a call made while another is waiting (a
// timer tick nested in a download's wait, say) fails at once without touching
// the port. A caller that needs several exchanges in a row holds the link.
class MeterLink {
public:
    explicit MeterLink(SerialLink &link);

    // Function 3: the data bytes of `count` holding registers from `first`.
    Result<QByteArray> readHoldingRegisters(int slave, int first, int count);
    // Function 0x60: the data bytes of `words` words of meter memory at bank/page/offset.
    Result<QByteArray> readLogBlock(int slave, int bank, int page, int offset, int words);
    // Function 0x61: the three bytes of the last-download pointer.
    Result<QByteArray> readLastDownloadPointer(int slave);
    // Function 0x62: succeeds when the meter answered at all.
    Result<void> confirmDownload(int slave);
    // Function 16: `values` into consecutive registers from `first`.
    Result<void> writeRegisters(int slave, int first, const QVector<quint16> &values);
    // Function 0x63: the 20 bytes of the display block.
    Result<QByteArray> readDisplayBlock(int slave);

    // True while an exchange waits or an operation holds the link.
    bool isBusy() const { return inExchange_ || holds_ > 0; }
    bool inExchange() const { return inExchange_; }

    // Keeps others off the link across several exchanges (a download, a dial).
    class Hold {
    public:
        explicit Hold(MeterLink &link) : link_(link)
        {
            ++link_.holds_;
            link_.link_.beginOperation();
        }
        ~Hold()
        {
            link_.link_.endOperation();
            if (--link_.holds_ == 0) {
                link_.lineGone_.reset();
                link_.reconnects_ = ReconnectBudget();
                link_.connectedInHold_ = false;
            }
            if (link_.holds_ == 0 && !link_.inExchange_)
                link_.slowPath_.forgetResend();
        }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        MeterLink &link_;
    };

    SerialLink &serial() { return link_; }

    // Told of every wait for a reply that goes silent, as it goes on, for a
    // display that shows it; returns the watcher it replaces, to be put back.
    ReplyWaitWatcher setReplyWaitWatcher(ReplyWaitWatcher watcher)
    {
        std::swap(watcher, waitWatcher_);
        return watcher;
    }

    // Attaches the communication monitor (nullptr detaches it).
    void setObserver(LinkObserver *observer) { observer_ = observer; }
    LinkObserver *observer() const { return observer_; }

private:
    class Turn;
    // The steps every exchange starts with: the port opened, stale bytes dropped.
    Result<void> begin(const Turn &turn, Exchange &exchange, int slave);
    // Sends `frame` and waits for its whole reply by `timing`'s rules, its
    // give-up time counted from `firstSend` on `clock` when given (an earlier
    // send's, for a request asked again after noise), else from this send's.
    Result<void> sendAndAwait(Exchange &exchange, const QByteArray &frame, const ExchangeTiming &timing,
                              const WaitClock &clock, std::optional<double> firstSend);
    // Whether `expected` bytes are in and no exception reply may still be arriving.
    bool replyComplete(const QByteArray &frame, int expected, int received, double now, const WaitClock &clock);
    // Sends and reads `frame`'s reply, sending it again at once after noise
    // (a spoilt reply, another slave's) until `timing`'s give-up time; a
    // meter that answered only with noise is reported as such, not as silent.
    Result<QByteArray> askPastNoise(Exchange &exchange, const QByteArray &frame, const ExchangeTiming &timing);
    // Runs one exchange: the port opened, then `ask`. A device server's
    // connection dropped under it is made again and, when `mayAskAgain`, the
    // exchange asked again, within the operation's ReconnectBudget; once that
    // is spent, every further exchange of the held operation fails at once
    // with the reason.
    template <typename Ask>
    auto exchangeOverLine(int slave, bool mayAskAgain, Ask ask);

    // Waits `ms` before connecting again, the window running; false on Stop.
    bool pauseBeforeReconnect(std::int64_t ms);

    SerialLink &link_;
    ReconnectBudget reconnects_; // the held operation's, or the lone exchange's
    bool connectedInHold_ = false; // an exchange of the held operation got through to the server
    std::optional<LinkFailure> lineGone_; // the held operation lost its device server for good
    bool inExchange_ = false;
    int holds_ = 0;
    LinkObserver *observer_ = nullptr;
    ReplyWaitWatcher waitWatcher_;
    SlowPath slowPath_;
};

} // namespace ostrand

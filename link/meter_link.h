#pragma once

#include "link/link_observer.h"
#include "link/link_result.h"
#include "link/serial_link.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <optional>

namespace ostrand {

struct ExchangeTiming;
class WaitClock;

// Every Modbus exchange with the meter. Each call sends its request, waits
// (yielding to the window) by the meter's timing rules, checks the reply's
// CRC and returns the reply's data or why there is none.
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
            if (--link_.holds_ == 0 && !link_.inExchange_)
                link_.adaptedResend_ = 0;
        }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        MeterLink &link_;
    };

    SerialLink &serial() { return link_; }

    // `error` of the last exchange in words for the operator: what the meter
    // refused, where nobody answered, or the port's own reason when it would not open.
    QString failureText(LinkError error) const;
    // The same, saying what the line was lost during ("the download") when
    // the device went away under the exchange.
    QString failureText(LinkError error, const QString &during) const;

    // Attaches the communication monitor (nullptr detaches it).
    void setObserver(LinkObserver *observer) { observer_ = observer; }
    LinkObserver *observer() const { return observer_; }

private:
    class Exchange;
    // The steps every exchange starts with: the port opened, stale bytes dropped.
    Result<void> begin(const Exchange &exchange, int slave);
    // Sends `frame` and waits for `expected` bytes by `timing`'s rules, giving
    // up by `firstSend` on `clock` when given (a request asked again after noise).
    Result<void> sendAndAwait(const QByteArray &frame, int expected, const ExchangeTiming &timing);
    Result<void> sendAndAwait(const QByteArray &frame, int expected, const ExchangeTiming &timing,
                              const WaitClock &clock, double firstSend);
    // Takes a complete, sound exception reply to `frame` off the line, if one is there.
    std::optional<int> takeException(const QByteArray &frame);
    // Fails with WrongReply when `header` is not from `frame`'s slave and function.
    Result<void> checkEcho(const QByteArray &header, const QByteArray &frame);
    // A reply of known length read through its CRC, compared and its echo checked;
    // its bytes from `dataFrom` on.
    Result<QByteArray> readFixedReply(const QByteArray &frame, int length, int dataFrom);
    // The function-3 reply to `frame` after its bytes are in.
    Result<QByteArray> readHoldingReply(const QByteArray &frame);
    // Reads `count` bytes into the running `crc`, appending those from `keepFrom` on to *keep.
    Result<void> readThroughCrc(int count, std::uint16_t &crc, QByteArray *keep = nullptr,
                                int keepFrom = 0);
    Result<void> readCrcAndCompare(std::uint16_t crc);
    // A reply that came only after the request went out again: the path is slow.
    void noteLateReply(double replySeconds, int extraSends, double giveUp);
    // Waits out the answers still due to requests sent more than once, so the
    // next exchange does not take one of them for its own.
    void drainStrayReplies();
    // Sends a request, telling the monitor whether it repeats the last one.
    void send(const QByteArray &frame);
    LinkError fail(LinkError why);

    SerialLink &link_;
    bool inExchange_ = false;
    int holds_ = 0;
    LinkObserver *observer_ = nullptr;
    // What the monitor is told at the end of an exchange.
    QByteArray request_;
    QByteArray reply_;
    bool failed_ = false;
    // What the last exchange asked and how long it waited, for failureText().
    int lastSlave_ = 0;
    int lastFunction_ = 0;
    double lastGiveUp_ = 0;
    int lastException_ = 0;
    // Resend interval learnt from a slow path, for the rest of the operation (0: none).
    double adaptedResend_ = 0;
    // Answers still to come to repeated requests, on the port as opened then.
    int strayReplies_ = 0;
    int strayOpenCount_ = 0;
    double strayQuiet_ = 0;
};

} // namespace ostrand

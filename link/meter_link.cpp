#include "meter_link.h"

#include "link/exchange.h"
#include "link/exchange_timings.h"
#include "link/link_settings.h"
#include "link/modbus_exceptions.h"
#include "link/modbus_requests.h"
#include "link/reconnect_budget.h"
#include "link/reply_shapes.h"
#include "link/wait_clock.h"
#include "link/wait_policy.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"

#include <algorithm>
#include <cmath>

namespace ostrand {

// Marks the link as in use for the length of one exchange; refuses a second.
class MeterLink::Turn {
public:
    explicit Turn(MeterLink &link) : link_(link), entered_(!link.inExchange_)
    {
        if (entered_) {
            link_.inExchange_ = true;
            link_.link_.markExchangeStart();
        }
    }
    ~Turn()
    {
        if (!entered_)
            return;
        link_.inExchange_ = false;
        if (link_.holds_ == 0)
            link_.slowPath_.forgetResend(); // a lone exchange is an operation of its own
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;
    bool entered() const { return entered_; }

private:
    MeterLink &link_;
    bool entered_;
};

namespace {

const ReplyShape &shapeFor(const QByteArray &frame)
{
    return *reply::shapeOf(static_cast<quint8>(frame[1]));
}

// An exchange turned down before anything reached the port.
LinkFailure notStarted(LinkError why, int slave)
{
    LinkFailure failure;
    failure.error = why;
    failure.slave = slave;
    return failure;
}

// How often a pause before reconnecting looks at Stop.
constexpr std::int64_t kPauseSliceMs = 10;

bool isNoise(LinkError error)
{
    return error == LinkError::CrcError || error == LinkError::WrongReply;
}

// Tells the watcher of a wait's silence as its whole seconds pass, and of its
// end: a bar frozen on its last percentage would say nothing of a meter that
// stopped answering.
class SilenceReport {
public:
    SilenceReport(const ReplyWaitWatcher &watcher, double countFrom, double giveUp)
        : watcher_(watcher), countFrom_(countFrom), giveUp_(giveUp)
    {
    }
    ~SilenceReport() { quiet(); }
    SilenceReport(const SilenceReport &) = delete;
    SilenceReport &operator=(const SilenceReport &) = delete;

    // At `now`, the line quiet since `heardAt` (the last send or byte).
    void at(double now, double heardAt)
    {
        if (!watcher_)
            return;
        if (now - heardAt < kReplyWaitShownAfter) {
            quiet();
            return;
        }
        const int seconds = std::max(0, static_cast<int>(std::floor(now - countFrom_)));
        if (seconds == shown_)
            return;
        shown_ = seconds;
        watcher_(ReplyWait{seconds, giveUp_});
    }

private:
    void quiet()
    {
        if (shown_ < 0 || !watcher_)
            return;
        shown_ = -1;
        watcher_(std::nullopt);
    }

    const ReplyWaitWatcher &watcher_;
    double countFrom_;
    double giveUp_;
    int shown_ = -1;
};

} // namespace

MeterLink::MeterLink(SerialLink &link) : link_(link) {}

Result<void> MeterLink::begin(const Turn &turn, Exchange &exchange, int slave)
{
    // Neither refusal touches the port, so the monitor is not told of them.
    if (!turn.entered())
        return notStarted(LinkError::Busy, slave);
    if (!LinkSettings::isValidSlave(slave))
        return notStarted(LinkError::SlaveOutOfRange, slave);
    if (link_.stopRequested())
        return notStarted(LinkError::Stopped, slave);
    link_.yield();
    // A device server that closed the held operation's connection between two
    // exchanges dropped it as surely as one that closed it under a reply: it
    // is not simply opened again, or a line dropping after every reply would
    // be reconnected for ever.
    if (holds_ > 0 && connectedInHold_ && link_.onNetwork() && !link_.port().isOpen() && link_.port().lineLost())
        return exchange.fail(LinkError::PortNotOpen);
    if (!link_.openPort())
        return exchange.fail(LinkError::PortNotOpen);
    slowPath_.drainStrays(link_);
    link_.discardInput();
    link_.discardOutput();
    link_.yield();
    return {};
}

template <typename Ask>
auto MeterLink::exchangeOverLine(int slave, bool mayAskAgain, Ask ask)
{
    using Reply = decltype(ask(std::declval<Exchange &>()));
    Turn turn(*this);
    if (turn.entered() && lineGone_)
        return Reply(*lineGone_);
    // A lone exchange is an operation of its own; a held one shares the operation's tries.
    if (turn.entered() && holds_ == 0)
        reconnects_ = ReconnectBudget();
    bool reconnecting = false;
    for (;;) {
        Exchange exchange(link_, observer_, slave);
        const Result<void> ready = begin(turn, exchange, slave);
        Reply got = ready ? ask(exchange) : Reply(ready.failure());
        if (got && holds_ > 0 && link_.onNetwork())
            connectedInHold_ = true;
        // A request that acts on the meter is not made twice: the lost reply
        // may have followed the act. One never sent may go once the line is back.
        const bool sent = !got && got.failure().function != 0;
        if (got || !link_.onNetwork() || (!mayAskAgain && sent))
            return got;
        if (const auto pause = reconnects_.nextTry(got.failure(), reconnecting, link_.clock().monotonicMs())) {
            if (!pauseBeforeReconnect(*pause)) {
                LinkFailure stopped = got.failure();
                stopped.error = LinkError::Stopped;
                stopped.lineLost = false;
                return Reply(stopped);
            }
            reconnecting = true;
            connectedInHold_ = false;
            continue; // the next begin() connects again
        }
        if (!reconnects_.spent() || !(reconnecting || got.failure().lineLost))
            return got;
        LinkFailure gone = got.failure();
        gone.error = LinkError::PortNotOpen;
        gone.lineLost = false;
        gone.portReason = QStringLiteral("the connection to %1 was lost (%2) and %3 tries to connect again failed: %4")
                              .arg(link_.port().deviceName(), reconnects_.dropReason())
                              .arg(reconnects_.tries())
                              .arg(got.failure().portReason);
        if (holds_ > 0)
            lineGone_ = gone;
        return Reply(gone);
    }
}

bool MeterLink::pauseBeforeReconnect(std::int64_t ms)
{
    const std::int64_t until = link_.clock().monotonicMs() + ms;
    for (;;) {
        if (link_.stopRequested())
            return false;
        const std::int64_t left = until - link_.clock().monotonicMs();
        if (left <= 0)
            return true;
        // Short slices: a Stop set from another thread wakes nothing here.
        link_.pump().yield(static_cast<int>(std::min<std::int64_t>(left, kPauseSliceMs)));
    }
}

bool MeterLink::replyComplete(const QByteArray &frame, int expected, int received, double now,
                              const WaitClock &clock)
{
    if (received < expected)
        return false;
    // An exception reply is five bytes, shorter than any reply it stands for
    // but the confirmation's single byte; that byte waits until the line has
    // been quiet long enough to be sure no exception is on its way.
    const QByteArray head = link_.peek(2);
    const bool mayBeException = received < 5 && head[0] == frame[0]
                                && (head.size() < 2 || static_cast<quint8>(head[1]) == (static_cast<quint8>(frame[1]) | 0x80));
    const double exceptionQuiet = std::max(0.05, link_.wireSeconds(5));
    return !mayBeException || now > clock.at(link_.lastByteMs()) + exceptionQuiet;
}

Result<void> MeterLink::sendAndAwait(Exchange &exchange, const QByteArray &frame, const ExchangeTiming &timing,
                                     const WaitClock &clock, std::optional<double> firstSend)
{
    const int expected = reply::expectedLength(shapeFor(frame), frame);
    // On a line that echoes, the request's own bytes come first: taken off
    // before the reply, they are neither a reply begun nor part of one.
    const bool echoes = link_.settings().echo;
    int echoDue = 0;
    const auto sendOnce = [&](bool again) {
        if (again && timing.discardFirst) {
            link_.discardInput();
            link_.discardOutput();
            link_.yield();
        }
        const bool sent = exchange.send(frame);
        if (sent && echoes)
            echoDue = static_cast<int>(frame.size());
        if (sent && timing.yieldAfterSend)
            link_.yield();
        return sent;
    };
    // A request the port would not take fails at once: no reply can come to it.
    if (!sendOnce(false))
        return exchange.fail(LinkError::SendFailed);
    // Give-up times count from the start rounded to a whole second, as the
    // meters have always been timed; resends count from the real send, since
    // a rounded one could resend at once and leave a second reply in flight
    // for the next exchange to take as its own.
    const WaitLine line{link_.settings().replyTimeoutMs / 1000.0, slowPath_.resend(), link_.wireSeconds(expected)};
    const double countFrom = firstSend.value_or(clock.roundedNow());
    const double sentAt = clock.now();
    WaitPolicy policy(timing, line, countFrom, sentAt);
    exchange.setGiveUp(policy.giveUpSeconds());
    SilenceReport silence(waitWatcher_, countFrom, policy.giveUpSeconds());
    const auto lastByteAt = [&]() -> std::optional<double> {
        return link_.lastByteMs() == SerialLink::kNoByte ? std::nullopt
                                                         : std::optional<double>(clock.at(link_.lastByteMs()));
    };
    bool replyStarted = false;
    for (;;) {
        link_.waitForEvent();
        if (link_.stopRequested())
            return exchange.fail(LinkError::Stopped);
        // Closed under the wait (adapter pulled, or the program ending): no reply can come.
        if (!link_.port().isOpen())
            return exchange.fail(LinkError::PortNotOpen);
        const double now = clock.now();
        // Before any give-up: the last second of a wait is shown too.
        silence.at(now, std::max(sentAt, lastByteAt().value_or(sentAt)));
        if (policy.givesUpBeforeReply(now))
            return exchange.fail(echoDue > 0 ? LinkError::EchoMissing : LinkError::TimedOut);
        if (echoDue > 0) {
            if (link_.receivedCount() < echoDue) {
                // Asking again cannot help while the line does not return what it is sent.
                if (policy.next(now, std::nullopt) != WaitPolicy::Step::Wait)
                    return exchange.fail(LinkError::EchoMissing);
                continue;
            }
            if (link_.takeEcho(echoDue) != frame)
                return exchange.fail(LinkError::EchoMissing);
            echoDue = 0;
        }
        const int received = link_.receivedCount();
        if (received > 0 && !replyStarted) {
            replyStarted = true;
            if (policy.sends() > 1)
                slowPath_.learn(policy.slowPathResend(now), policy.sends() - 1, link_.openCount());
        }
        if (received >= 5) {
            if (const auto code = exchange.takeException()) {
                if (!asksToWait(*code))
                    return exchange.fail(refusalFor(*code), *code);
                continue; // asked to wait: as after silence
            }
        }
        if (replyComplete(frame, expected, received, now, clock))
            return {};
        const auto lastByte = lastByteAt();
        WaitPolicy::Step step = policy.next(now, lastByte);
        if (step == WaitPolicy::Step::Resend) {
            if (!sendOnce(true))
                return exchange.fail(LinkError::SendFailed);
            policy.resent(clock.now());
            step = policy.next(now, lastByte);
        }
        if (step == WaitPolicy::Step::GiveUp)
            return exchange.fail(LinkError::TimedOut);
    }
}

Result<QByteArray> MeterLink::askPastNoise(Exchange &exchange, const QByteArray &frame, const ExchangeTiming &timing)
{
    const WaitClock clock(link_.clock());
    const double firstSend = clock.roundedNow();
    std::optional<LinkFailure> noise;
    for (;;) {
        if (auto waited = sendAndAwait(exchange, frame, timing, clock, firstSend); !waited)
            return waited.error() == LinkError::TimedOut && noise ? *noise : waited.failure();
        Result<QByteArray> got = exchange.readReply(shapeFor(frame));
        if (got || !isNoise(got.error()) || clock.now() - firstSend >= exchange.giveUp())
            return got;
        noise = got.failure();
        exchange.forgetReply();
    }
}

Result<QByteArray> MeterLink::readHoldingRegisters(int slave, int first, int count)
{
    // The pointers and labels every download starts from: noise must not end it.
    return exchangeOverLine(slave, true, [&](Exchange &exchange) {
        return askPastNoise(exchange, request::readHoldingRegisters(slave, first / 256, first % 256, count),
                            timing::kHoldingRegisters);
    });
}

Result<QByteArray> MeterLink::readLogBlock(int slave, int bank, int page, int offset, int words)
{
    return exchangeOverLine(slave, true, [&](Exchange &exchange) -> Result<QByteArray> {
        const QByteArray frame = request::readLogBlock(slave, bank, page, offset, words);
        if (auto waited = sendAndAwait(exchange, frame, timing::kLogBlock, WaitClock(link_.clock()), {}); !waited)
            return waited.failure();
        return exchange.readReply(shapeFor(frame));
    });
}

Result<QByteArray> MeterLink::readLastDownloadPointer(int slave)
{
    // Without this pointer a "since last time" download cannot start.
    return exchangeOverLine(slave, true, [&](Exchange &exchange) {
        return askPastNoise(exchange, request::readLastDownloadPointer(slave), timing::kLastDownloadPointer);
    });
}

Result<void> MeterLink::confirmDownload(int slave)
{
    // A download is confirmed once: a confirmation whose reply was lost with
    // the connection may have been taken, and is not sent again.
    return exchangeOverLine(slave, false, [&](Exchange &exchange) {
        // One byte of any kind is the acknowledgement. Whatever came by then is
        // read, so the monitor shows the meter's answer; the rest of a longer one
        // is left for the next exchange to clear, as before.
        auto waited = sendAndAwait(exchange, request::confirmDownload(slave), timing::kConfirmDownload,
                                   WaitClock(link_.clock()), {});
        if (waited)
            exchange.readWhatCame();
        return waited;
    });
}

Result<void> MeterLink::writeRegisters(int slave, int first, const QVector<quint16> &values)
{
    // A key pressed twice is another key: a write is not sent again after a drop.
    return exchangeOverLine(slave, false, [&](Exchange &exchange) -> Result<void> {
        const QByteArray frame = request::writeRegisters(slave, first, values);
        if (auto waited = sendAndAwait(exchange, frame, timing::kWriteRegisters, WaitClock(link_.clock()), {});
            !waited)
            return waited;
        // Register and count are echoed but not compared: an answer from this
        // slave to this function means the meter took the write.
        if (auto echo = exchange.readReply(shapeFor(frame)); !echo)
            return echo.failure();
        return {};
    });
}

Result<QByteArray> MeterLink::readDisplayBlock(int slave)
{
    return exchangeOverLine(slave, true, [&](Exchange &exchange) -> Result<QByteArray> {
        const QByteArray frame = request::readDisplayBlock(slave);
        if (auto waited = sendAndAwait(exchange, frame, timing::kDisplayBlock, WaitClock(link_.clock()), {});
            !waited)
            return waited.failure();
        return exchange.readReply(shapeFor(frame));
    });
}

} // namespace ostrand

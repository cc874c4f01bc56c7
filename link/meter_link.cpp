#include "meter_link.h"

#include "link/crc16.h"
#include "link/exchange_timings.h"
#include "link/link_settings.h"
#include "link/modbus_requests.h"
#include "link/wait_clock.h"
#include "platform/serial_port.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ostrand {

// Marks the link as in use for the length of one exchange; refuses a second.
class MeterLink::Exchange {
public:
    explicit Exchange(MeterLink &link) : link_(link), entered_(!link.inExchange_)
    {
        if (entered_) {
            link_.inExchange_ = true;
            link_.link_.markExchangeStart();
            link_.request_.clear();
            link_.reply_.clear();
            link_.failed_ = false;
        }
    }
    ~Exchange()
    {
        if (!entered_)
            return;
        link_.inExchange_ = false;
        if (link_.holds_ == 0)
            link_.adaptedResend_ = 0; // a lone exchange is an operation of its own
        if (link_.observer_ && !link_.failed_ && !link_.reply_.isEmpty())
            link_.observer_->replyRead(link_.reply_, true);
    }
    bool entered() const { return entered_; }

private:
    MeterLink &link_;
    bool entered_;
};

namespace {

// A reply that takes longer on the wire than the wait between resends (a long
// block at 4800 baud or less, or over a slow modem) gets that much more time
// before the exchange gives up. Shorter replies, the usual case at 9600 baud
// and above, leave the meter's timing exactly as it always was.
double slowLineAllowance(const SerialLink &link, int replyBytes, double slowLine)
{
    return std::max(0.0, link.wireSeconds(replyBytes) - slowLine);
}

// Resends are counted from the later of the last send and the last byte seen,
// so a reply still arriving (a long block at a slow rate) is never cut off.
double resendBase(const WaitClock &clock, const SerialLink &link, double lastSend)
{
    if (link.lastByteMs() == SerialLink::kNoByte)
        return lastSend;
    return std::max(lastSend, clock.at(link.lastByteMs()));
}

} // namespace

MeterLink::MeterLink(SerialLink &link) : link_(link) {}

void MeterLink::send(const QByteArray &frame)
{
    // A slave that frames by silence would take a request hard on the heels
    // of the last reply as part of it.
    link_.awaitInterFrameGap();
    if (observer_)
        observer_->requestSent(frame, frame == request_);
    request_ = frame;
    link_.sendBytes(frame);
}

LinkError MeterLink::fail(LinkError why)
{
    if (observer_ && !failed_) {
        // The monitor shows the frame that was turned down, decoded as it came.
        if (why == LinkError::CrcError || why == LinkError::WrongReply)
            observer_->replyRead(reply_, why != LinkError::CrcError);
        observer_->exchangeFailed(request_, why);
    }
    failed_ = true;
    return why;
}

namespace {

LinkError refusalFor(int code)
{
    switch (code) {
    case 1: return LinkError::IllegalFunction;
    case 2: return LinkError::IllegalDataAddress;
    case 3: return LinkError::IllegalDataValue;
    case 4: return LinkError::SlaveDeviceFailure;
    default: return LinkError::Refused;
    }
}

} // namespace

Result<void> MeterLink::begin(const Exchange &exchange, int slave)
{
    // Neither refusal touches the port, so the monitor is not told of them.
    if (!exchange.entered())
        return LinkError::Busy;
    if (!LinkSettings::isValidSlave(slave))
        return LinkError::SlaveOutOfRange;
    if (link_.stopRequested())
        return LinkError::Stopped;
    lastSlave_ = slave;
    link_.yield();
    if (!link_.openPort())
        return fail(LinkError::PortNotOpen);
    drainStrayReplies();
    link_.discardInput();
    link_.discardOutput();
    link_.yield();
    return {};
}

void MeterLink::noteLateReply(double replySeconds, int extraSends, double giveUp)
{
    // Half as long again as the reply took leaves room for the path's jitter;
    // waiting longer than the give-up time would only delay giving up.
    const double interval = std::min(giveUp, 1.5 * replySeconds);
    adaptedResend_ = std::max(adaptedResend_, interval);
    strayReplies_ += extraSends;
    strayOpenCount_ = link_.openCount();
    strayQuiet_ = std::max(strayQuiet_, interval);
}

void MeterLink::drainStrayReplies()
{
    const int strays = std::exchange(strayReplies_, 0);
    const double quietMs = std::exchange(strayQuiet_, 0) * 1000.0;
    // A reopened port has lost whatever was still on its way.
    if (strays == 0 || link_.openCount() != strayOpenCount_)
        return;
    const std::int64_t startMs = link_.clock().monotonicMs();
    // Each stray may follow the one before by a reply time: enough for all of them.
    const double limitMs = (strays + 1) * quietMs + 1000.0;
    for (;;) {
        link_.receivedCount();
        const std::int64_t nowMs = link_.clock().monotonicMs();
        if (nowMs - link_.lineQuietFromMs() >= quietMs || nowMs - startMs >= limitMs || link_.stopRequested())
            return;
        link_.waitForEvent();
    }
}

Result<void> MeterLink::sendAndAwait(const QByteArray &frame, int expected, const ExchangeTiming &timing)
{
    const WaitClock clock(link_.clock());
    return sendAndAwait(frame, expected, timing, clock, -1);
}

std::optional<int> MeterLink::takeException(const QByteArray &frame)
{
    const QByteArray head = link_.peek(5);
    if (head.size() < 5 || head[0] != frame[0] || static_cast<quint8>(head[1]) != (static_cast<quint8>(frame[1]) | 0x80))
        return std::nullopt;
    if (appendCrc(head.left(3)) != head)
        return std::nullopt;
    link_.readBytes(5);
    if (observer_)
        observer_->replyRead(head, true);
    return static_cast<quint8>(head[2]);
}

Result<void> MeterLink::sendAndAwait(const QByteArray &frame, int expected, const ExchangeTiming &timing,
                                     const WaitClock &clock, double firstSendOrNone)
{
    lastFunction_ = static_cast<quint8>(frame[1]);
    send(frame);
    if (timing.yieldAfterSend)
        link_.yield();
    const double configured = link_.settings().replyTimeoutMs / 1000.0;
    const double giveUp = std::max(timing.giveUp, configured) + slowLineAllowance(link_, expected, timing.slowLine);
    lastGiveUp_ = giveUp;
    const double resend =
        timing.resend > 0 ? std::min(giveUp, std::max({timing.resend, configured, adaptedResend_})) : 0.0;
    // Give-up times count from the start rounded to a whole second, as the
    // meters have always been timed; resends count from the real send, since
    // a rounded one could resend at once and leave a second reply in flight
    // for the next exchange to take as its own.
    const double firstSend = firstSendOrNone < 0 ? clock.roundedNow() : firstSendOrNone;
    double lastSend = clock.now();
    const double sentAt = lastSend;
    int sends = 1;
    bool replyStarted = false;
    // An exception reply is five bytes, shorter than any reply it stands for
    // but the confirmation's single byte; that byte waits until the line has
    // been quiet long enough to be sure no exception is on its way.
    const double exceptionQuiet = std::max(0.05, link_.wireSeconds(5));
    for (;;) {
        link_.waitForEvent();
        if (link_.stopRequested())
            return fail(LinkError::Stopped);
        // Closed under the wait (adapter pulled, or the program ending): no reply can come.
        if (!link_.port().isOpen())
            return fail(LinkError::PortNotOpen);
        const double now = clock.now();
        if (timing.check == GiveUpCheck::BeforeReply && now > firstSend + giveUp)
            return fail(LinkError::TimedOut);
        const int received = link_.receivedCount();
        if (received > 0 && !replyStarted) {
            replyStarted = true;
            if (sends > 1)
                noteLateReply(now - sentAt, sends - 1, giveUp);
        }
        if (received >= 5) {
            if (const auto code = takeException(frame)) {
                // Acknowledge and busy ask to be asked again later: as after silence.
                if (*code != 5 && *code != 6) {
                    lastException_ = *code;
                    return fail(refusalFor(*code));
                }
                continue;
            }
        }
        if (received >= expected) {
            const QByteArray head = link_.peek(2);
            const bool mayBeException = received < 5 && head[0] == frame[0]
                                        && (head.size() < 2 || static_cast<quint8>(head[1]) == (static_cast<quint8>(frame[1]) | 0x80));
            if (!mayBeException || now > clock.at(link_.lastByteMs()) + exceptionQuiet)
                return {};
        }
        const double resendDue = resendBase(clock, link_, lastSend) + resend;
        // A lengthened interval: a resend too near the give-up time to be
        // answered is not sent, and the wait still ends on time.
        const bool tooLate = resend > timing.resend && resendDue + timing.resend > firstSend + giveUp;
        if (tooLate && now > resendDue && now >= firstSend + giveUp)
            return fail(LinkError::TimedOut);
        if (resend > 0 && !tooLate && now > resendDue) {
            if (timing.check == GiveUpCheck::WhenResendDue && now - firstSend >= giveUp)
                return fail(LinkError::TimedOut);
            if (timing.discardFirst) {
                link_.discardInput();
                link_.discardOutput();
                link_.yield();
            }
            send(frame);
            ++sends;
            if (timing.yieldAfterSend)
                link_.yield();
            lastSend = clock.now();
        }
        if (timing.check == GiveUpCheck::AfterResend && now > firstSend + giveUp)
            return fail(LinkError::TimedOut);
    }
}

Result<void> MeterLink::checkEcho(const QByteArray &header, const QByteArray &frame)
{
    if (header.left(2) != frame.left(2))
        return fail(LinkError::WrongReply);
    return {};
}

Result<void> MeterLink::readThroughCrc(int count, std::uint16_t &crc, QByteArray *keep, int keepFrom)
{
    for (int i = 0; i < count; ++i) {
        const auto byte = link_.readBytes(1);
        if (!byte)
            return fail(link_.stopRequested() ? LinkError::Stopped : LinkError::TimedOut);
        const char value = byte->at(0);
        if (observer_)
            reply_.append(value);
        crc = crc16Step(crc, static_cast<std::uint8_t>(value));
        if (keep && i >= keepFrom)
            keep->append(value);
    }
    return {};
}

Result<void> MeterLink::readCrcAndCompare(std::uint16_t crc)
{
    QByteArray sent;
    std::uint16_t ignored = kCrcStart;
    if (auto read = readThroughCrc(2, ignored, &sent); !read)
        return read;
    if (static_cast<std::uint8_t>(sent[0]) == (crc & 0xFF) && static_cast<std::uint8_t>(sent[1]) == (crc >> 8))
        return {};
    return fail(LinkError::CrcError);
}

Result<QByteArray> MeterLink::readHoldingRegisters(int slave, int first, int count)
{
    Exchange exchange(*this);
    if (auto ready = begin(exchange, slave); !ready)
        return ready.error();
    const QByteArray frame = request::readHoldingRegisters(slave, first / 256, first % 256, count);
    const WaitClock clock(link_.clock());
    const double firstSend = clock.roundedNow();
    for (;;) {
        // Sent again without a discard: a late first reply is still read.
        if (auto waited = sendAndAwait(frame, reply::holdingRegistersLength(count), timing::kHoldingRegisters,
                                       clock, firstSend);
            !waited)
            return waited.error();
        Result<QByteArray> got = readHoldingReply(frame);
        // Nothing above this read asks again, so a reply spoilt by noise or
        // meant for another slave counts as none: the request goes out again
        // at once, within the same give-up time.
        const bool noise = !got && (got.error() == LinkError::CrcError || got.error() == LinkError::WrongReply);
        if (!noise || clock.now() - firstSend >= lastGiveUp_)
            return got;
        link_.discardInput();
        reply_.clear();
        failed_ = false;
    }
}

Result<QByteArray> MeterLink::readHoldingReply(const QByteArray &frame)
{
    std::uint16_t crc = kCrcStart;
    QByteArray header;
    QByteArray data;
    if (auto read = readThroughCrc(3, crc, &header); !read)
        return read.error();
    if (auto read = readThroughCrc(static_cast<quint8>(header[2]), crc, &data); !read)
        return read.error();
    if (auto checked = readCrcAndCompare(crc); !checked)
        return checked.error();
    if (auto echo = checkEcho(header, frame); !echo)
        return echo.error();
    return data;
}

Result<QByteArray> MeterLink::readLogBlock(int slave, int bank, int page, int offset, int words)
{
    Exchange exchange(*this);
    if (auto ready = begin(exchange, slave); !ready)
        return ready.error();
    const QByteArray frame = request::readLogBlock(slave, bank, page, offset, words);
    const int expected = reply::logBlockLength(256 * (words / 256) + words % 256);
    if (auto waited = sendAndAwait(frame, expected, timing::kLogBlock); !waited)
        return waited.error();

    std::uint16_t crc = kCrcStart;
    QByteArray header;
    if (auto read = readThroughCrc(7, crc, &header); !read)
        return read.error();
    // A reply to another block (a late answer to an earlier request) must not
    // be taken for this one: its echoed address tells them apart.
    if (header.left(5) != frame.left(5))
        return fail(LinkError::WrongReply);
    const int length = 256 * static_cast<quint8>(header[5]) + static_cast<quint8>(header[6]);
    QByteArray data;
    if (auto read = readThroughCrc(length, crc, &data); !read)
        return read.error();
    if (auto checked = readCrcAndCompare(crc); !checked)
        return checked.error();
    return data;
}

Result<QByteArray> MeterLink::readFixedReply(const QByteArray &frame, int length, int dataFrom)
{
    std::uint16_t crc = kCrcStart;
    QByteArray head;
    if (auto read = readThroughCrc(length, crc, &head); !read)
        return read.error();
    if (auto checked = readCrcAndCompare(crc); !checked)
        return checked.error();
    if (auto echo = checkEcho(head, frame); !echo)
        return echo.error();
    return head.mid(dataFrom);
}

Result<QByteArray> MeterLink::readLastDownloadPointer(int slave)
{
    Exchange exchange(*this);
    if (auto ready = begin(exchange, slave); !ready)
        return ready.error();
    const QByteArray frame = request::readLastDownloadPointer(slave);
    const WaitClock clock(link_.clock());
    const double firstSend = clock.roundedNow();
    std::optional<LinkError> noiseSeen;
    for (;;) {
        // A meter that answered only with noise is reported as such, not as silent.
        if (auto waited = sendAndAwait(frame, reply::kLastDownloadPointerLength, timing::kLastDownloadPointer,
                                       clock, firstSend);
            !waited)
            return waited.error() == LinkError::TimedOut && noiseSeen ? *noiseSeen : waited.error();
        Result<QByteArray> got = readFixedReply(frame, 5, 2);
        // Without this pointer a "since last time" download cannot start, so
        // one burst of noise must not end it: a spoilt reply is asked for
        // again, within the same give-up time a silent meter gets.
        const bool noise = !got && (got.error() == LinkError::CrcError || got.error() == LinkError::WrongReply);
        if (!noise || clock.now() - firstSend >= lastGiveUp_)
            return got;
        noiseSeen = got.error();
        link_.discardInput();
        reply_.clear();
        failed_ = false;
    }
}

Result<void> MeterLink::confirmDownload(int slave)
{
    Exchange exchange(*this);
    if (auto ready = begin(exchange, slave); !ready)
        return ready;
    // One byte of any kind is the acknowledgement; it is left unread.
    return sendAndAwait(request::confirmDownload(slave), 1, timing::kConfirmDownload);
}

Result<void> MeterLink::writeRegisters(int slave, int first, const QVector<quint16> &values)
{
    Exchange exchange(*this);
    if (auto ready = begin(exchange, slave); !ready)
        return ready;
    const int count = static_cast<int>(std::min<qsizetype>(values.size(), request::kMaxWrittenRegisters));
    const QByteArray frame = request::writeRegisters(slave, first, values);
    if (auto waited = sendAndAwait(frame, reply::writeRegistersLength(count, 2 * count), timing::kWriteRegisters);
        !waited)
        return waited;

    // Register and count are echoed but not compared: an answer from this
    // slave to this function means the meter took the write.
    if (auto echo = readFixedReply(frame, 6, 0); !echo)
        return echo.error();
    return {};
}

Result<QByteArray> MeterLink::readDisplayBlock(int slave)
{
    Exchange exchange(*this);
    if (auto ready = begin(exchange, slave); !ready)
        return ready.error();
    const QByteArray frame = request::readDisplayBlock(slave);
    if (auto waited = sendAndAwait(frame, reply::kDisplayBlockLength, timing::kDisplayBlock); !waited)
        return waited.error();
    return readFixedReply(frame, 24, 4);
}

} // namespace ostrand

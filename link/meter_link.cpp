#include "meter_link.h"

#include "link/crc16.h"
#include "link/modbus_requests.h"
#include "link/wait_clock.h"
#include "platform/serial_port.h"

#include <algorithm>

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
        if (link_.observer_ && !link_.failed_ && !link_.reply_.isEmpty())
            link_.observer_->replyRead(link_.reply_, true);
    }
    bool entered() const { return entered_; }

private:
    MeterLink &link_;
    bool entered_;
};

namespace {

// The address goes out as one byte; anything else would reach another meter.
bool validSlave(int slave)
{
    return slave >= 0 && slave <= 255;
}

// Resends are counted from the later of the last send and the last byte seen,
// so a reply still arriving (a long block at a slow rate) is never cut off.
// A reply that takes longer on the wire than the wait between resends (a long
// block at 4800 baud or less, or over a slow modem) gets that much more time
// before the exchange gives up. Shorter replies, the usual case at 9600 baud
// and above, leave the meter's timing exactly as it always was.
double slowLineAllowance(const SerialLink &link, int replyBytes, double resendInterval)
{
    return std::max(0.0, link.wireSeconds(replyBytes) - resendInterval);
}

double resendBase(const WaitClock &clock, const SerialLink &link, double lastSend)
{
    if (link.lastByteMs() == SerialLink::kNoByte)
        return lastSend;
    return std::max(lastSend, clock.at(link.lastByteMs()));
}

} // namespace

MeterLink::MeterLink(SerialLink &link) : link_(link) {}

void MeterLink::Crc16Update(int byte)
{
    CrcRegister = crc16Step(static_cast<std::uint16_t>(CrcRegister), static_cast<std::uint8_t>(byte));
}

bool MeterLink::readByte(int &value)
{
    if (!link_.ReadBytes(1))
        return fail(LinkFailure::TimedOut);
    value = static_cast<std::uint8_t>(link_.ReceiveBuffer.at(0));
    if (observer_)
        reply_.append(static_cast<char>(value));
    return true;
}

void MeterLink::send(const QByteArray &frame)
{
    if (observer_)
        observer_->requestSent(frame, frame == request_);
    request_ = frame;
    link_.SendBytes(frame);
}

bool MeterLink::fail(LinkFailure why)
{
    lastFailure_ = why;
    if (observer_ && !failed_) {
        if (why == LinkFailure::CrcError)
            observer_->replyRead(reply_, false);
        observer_->exchangeFailed(request_, why);
    }
    failed_ = true;
    return false;
}

QString MeterLink::lastFailureText() const
{
    switch (lastFailure_) {
    case LinkFailure::PortNotOpen: {
        const QString reason = link_.port().errorString();
        return reason.isEmpty() ? QStringLiteral("the port would not open")
                                : QStringLiteral("the port would not open: %1").arg(reason);
    }
    case LinkFailure::TimedOut:
        return QStringLiteral("no reply in time");
    case LinkFailure::CrcError:
        return QStringLiteral("the reply's CRC was wrong");
    case LinkFailure::WrongReply:
        return QStringLiteral("the reply answered another request");
    }
    return QStringLiteral("the exchange failed");
}

bool MeterLink::begin(const Exchange &exchange, int slave)
{
    if (!exchange.entered() || !validSlave(slave))
        return false;
    link_.yield();
    if (!link_.OpenPort())
        return fail(LinkFailure::PortNotOpen);
    link_.DiscardInput();
    link_.DiscardOutput();
    link_.yield();
    return true;
}

bool MeterLink::awaitResendingEverySecond(const QByteArray &frame, int expected, double giveUpSeconds)
{
    const double giveUp = giveUpSeconds + slowLineAllowance(link_, expected, 1.0);
    const WaitClock clock(link_.clock());
    // Give-up times count from the start rounded to a whole second, as the
    // meters have always been timed; resends count from the real send, since
    // a rounded one could resend at once and leave a second reply in flight
    // for the next exchange to take as its own.
    const double firstSend = clock.roundedNow();
    double lastSend = clock.now();
    for (;;) {
        link_.waitForEvent();
        if (link_.ReceivedCount() >= expected)
            return true;
        const double now = clock.now();
        if (now - resendBase(clock, link_, lastSend) <= 1.0)
            continue;
        if (now - firstSend >= giveUp)
            return fail(LinkFailure::TimedOut);
        send(frame);
        lastSend = now;
    }
}

bool MeterLink::readThroughCrc(int count, QByteArray *keep, int keepFrom)
{
    for (int i = 0; i < count; ++i) {
        int value = 0;
        if (!readByte(value))
            return false;
        Crc16Update(value);
        if (keep && i >= keepFrom)
            keep->append(static_cast<char>(value));
    }
    return true;
}

bool MeterLink::readCrcAndCompare()
{
    int low = 0;
    int high = 0;
    if (!readByte(low) || !readByte(high))
        return false;
    if (high == static_cast<int>((CrcRegister >> 8) & 0xFF) && low == static_cast<int>(CrcRegister & 0xFF))
        return true;
    return fail(LinkFailure::CrcError);
}

bool MeterLink::ReadHoldingRegisters(int slave, int startHigh, int startLow, int count)
{
    Exchange exchange(*this);
    if (!begin(exchange, slave))
        return false;
    const QByteArray frame = request::readHoldingRegisters(slave, startHigh, startLow, count);
    send(frame);

    // Sent again without a discard: a late first reply is still read.
    if (!awaitResendingEverySecond(frame, reply::holdingRegistersLength(count), 30))
        return false;

    CrcRegister = kCrcStart;
    QByteArray header;
    if (!readThroughCrc(3, &header))
        return false;
    ReplyData.clear();
    return readThroughCrc(static_cast<quint8>(header[2]), &ReplyData) && readCrcAndCompare();
}

bool MeterLink::ReadLogBlock(int slave, int p1, int p2, int p3, int count)
{
    Exchange exchange(*this);
    if (!begin(exchange, slave))
        return false;
    const QByteArray frame = request::readLogBlock(slave, p1, p2, p3, count);
    send(frame);
    link_.yield();

    const int expected = reply::logBlockLength(256 * (count / 256) + count % 256);
    const double giveUp = 5 + slowLineAllowance(link_, expected, 0.5);
    const WaitClock clock(link_.clock());
    const double firstSend = clock.roundedNow();
    double lastSend = clock.now();
    for (;;) {
        link_.waitForEvent();
        if (link_.ReceivedCount() >= expected)
            break;
        const double now = clock.now();
        if (now > resendBase(clock, link_, lastSend) + 0.5) {
            link_.DiscardInput();
            link_.DiscardOutput();
            link_.yield();
            send(frame);
            link_.yield();
            lastSend = clock.now();
        }
        if (now > firstSend + giveUp)
            return fail(LinkFailure::TimedOut);
    }

    CrcRegister = kCrcStart;
    QByteArray header;
    if (!readThroughCrc(7, &header))
        return false;
    // A reply to another block (a late answer to an earlier request) must not
    // be taken for this one: its echoed address tells them apart.
    const QByteArray echo = frame.mid(0, 5);
    if (header.left(5) != echo)
        return fail(LinkFailure::WrongReply);
    const int length = 256 * static_cast<quint8>(header[5]) + static_cast<quint8>(header[6]);
    ReplyData.clear();
    return readThroughCrc(length, &ReplyData) && readCrcAndCompare();
}

bool MeterLink::ReadLastDownloadPointer(int slave)
{
    Exchange exchange(*this);
    if (!begin(exchange, slave))
        return false;
    send(request::readLastDownloadPointer(slave));
    link_.yield();

    const double giveUp = 5 + slowLineAllowance(link_, reply::kLastDownloadPointerLength, 0.5);
    const WaitClock clock(link_.clock());
    const double start = clock.roundedNow();
    for (;;) {
        link_.waitForEvent();
        if (link_.ReceivedCount() >= reply::kLastDownloadPointerLength)
            break;
        if (clock.now() > start + giveUp)
            return fail(LinkFailure::TimedOut);
    }

    CrcRegister = kCrcStart;
    QByteArray pointer;
    if (!readThroughCrc(5, &pointer, 2))
        return false;
    LastDownloadPointer = pointer;
    return readCrcAndCompare();
}

bool MeterLink::ConfirmDownload(int slave)
{
    Exchange exchange(*this);
    if (!begin(exchange, slave))
        return false;
    send(request::confirmDownload(slave));

    const double giveUp = 4 + slowLineAllowance(link_, 1, 0.5);
    const WaitClock clock(link_.clock());
    const double start = clock.roundedNow();
    for (;;) {
        link_.waitForEvent();
        if (clock.now() > start + giveUp)
            return fail(LinkFailure::TimedOut);
        if (link_.ReceivedCount() >= 1)
            return true;
    }
}

bool MeterLink::WriteRegisters(int slave, int first, int count, int byteCount)
{
    Exchange exchange(*this);
    if (!begin(exchange, slave))
        return false;
    const QByteArray frame =
        request::writeRegisters(slave, first, count, byteCount, RegisterHighBytes, RegisterLowBytes);
    send(frame);

    if (!awaitResendingEverySecond(frame, reply::writeRegistersLength(count, byteCount), 3))
        return false;

    // Slave, function, register and count are echoed but not compared: any
    // well-formed 8-byte answer means the meter took the write.
    CrcRegister = kCrcStart;
    return readThroughCrc(6) && readCrcAndCompare();
}

bool MeterLink::ReadDisplayBlock(int slave)
{
    Exchange exchange(*this);
    if (!begin(exchange, slave))
        return false;
    send(request::readDisplayBlock(slave));

    const double giveUp = 1 + slowLineAllowance(link_, reply::kDisplayBlockLength, 0.5);
    const WaitClock clock(link_.clock());
    const double sent = clock.roundedNow();
    for (;;) {
        link_.waitForEvent();
        if (link_.ReceivedCount() >= reply::kDisplayBlockLength)
            break;
        if (clock.now() > sent + giveUp)
            return fail(LinkFailure::TimedOut);
    }

    ReplyData.clear();
    CrcRegister = kCrcStart;
    return readThroughCrc(24, &ReplyData, 4) && readCrcAndCompare();
}

} // namespace ostrand

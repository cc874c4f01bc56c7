#include "exchange.h"

#include "link/crc16.h"
#include "link/link_observer.h"
#include "link/reply_shapes.h"
#include "link/serial_link.h"
#include "platform/serial_port.h"

#include <algorithm>

namespace ostrand {
namespace {

bool isNoiseError(LinkError error)
{
    return error == LinkError::CrcError || error == LinkError::WrongReply;
}

// The port as the user named it: COMn with its device, or the device path alone.
QString portWhere(SerialLink &link)
{
    const QString device = link.port().deviceName();
    const int number = link.port().namedByDevice() ? 0 : link.settings().portNumber;
    QString where = number > 0 ? QStringLiteral("COM%1").arg(number) : device;
    if (number > 0 && !device.isEmpty())
        where += QStringLiteral(" (%1)").arg(device);
    return where;
}

} // namespace

Exchange::Exchange(SerialLink &link, LinkObserver *observer, int slave)
    : link_(link), observer_(observer), slave_(slave)
{
}

Exchange::~Exchange()
{
    if (observer_ && !failed_ && !reply_.isEmpty())
        observer_->replyRead(reply_, true);
}

bool Exchange::send(const QByteArray &frame)
{
    // A slave that frames by silence would take a request hard on the heels
    // of the last reply as part of it.
    link_.awaitInterFrameGap();
    const bool resend = frame == request_;
    request_ = frame;
    if (!link_.sendBytes(frame))
        return false;
    // A request the port refused never reached the line: the monitor shows only its failure.
    if (observer_)
        observer_->requestSent(frame, resend);
    return true;
}

void Exchange::readWhatCame()
{
    const int count = link_.receivedCount();
    if (count <= 0)
        return;
    const auto bytes = link_.readBytes(count);
    if (!bytes || !observer_)
        return;
    const bool crcOk = bytes->size() >= 3 && appendCrc(bytes->left(bytes->size() - 2)) == *bytes;
    observer_->replyRead(*bytes, crcOk);
}

bool Exchange::lineReturnedRequest()
{
    if (link_.settings().echo || request_.isEmpty())
        return false;
    const int more = static_cast<int>(request_.size() - std::min(reply_.size(), request_.size()));
    return (reply_ + link_.peek(more)).startsWith(request_);
}

LinkFailure Exchange::fail(LinkError why, int exceptionCode)
{
    if (observer_ && !failed_) {
        // The monitor shows the frame that was turned down, decoded as it came.
        if (why == LinkError::CrcError || why == LinkError::WrongReply)
            observer_->replyRead(reply_, why != LinkError::CrcError);
    }
    // A reply that does not read, or none, after the request came back whole
    // is an echoing adapter the line was not set for: saying so beats "check the cable".
    if ((why == LinkError::TimedOut || isNoiseError(why)) && !failed_ && lineReturnedRequest())
        why = LinkError::LineEchoes;
    SerialPort &port = link_.port();
    LinkFailure failure{why,
                        slave_,
                        request_.size() > 1 ? static_cast<quint8>(request_[1]) : 0,
                        exceptionCode,
                        giveUp_,
                        portWhere(link_),
                        link_.settings().baudRate,
                        port.errorString(),
                        port.lineLost(),
                        port.lostLineReason()};
    if (observer_ && !failed_)
        observer_->exchangeFailed(request_, failure);
    failed_ = true;
    return failure;
}

void Exchange::forgetReply()
{
    link_.discardInput();
    reply_.clear();
    failed_ = false;
}

std::optional<int> Exchange::takeException()
{
    const QByteArray head = link_.peek(5);
    if (head.size() < 5 || head[0] != request_[0]
        || static_cast<quint8>(head[1]) != (static_cast<quint8>(request_[1]) | 0x80))
        return std::nullopt;
    if (appendCrc(head.left(3)) != head)
        return std::nullopt;
    link_.readBytes(5);
    if (observer_)
        observer_->replyRead(head, true);
    return static_cast<quint8>(head[2]);
}

Result<void> Exchange::readThroughCrc(int count, std::uint16_t &crc, QByteArray *keep)
{
    for (int i = 0; i < count; ++i) {
        const auto byte = link_.readBytes(1);
        if (!byte)
            return fail(link_.stopRequested() ? LinkError::Stopped : LinkError::TimedOut);
        const char value = byte->at(0);
        reply_.append(value);
        crc = crc16Step(crc, static_cast<std::uint8_t>(value));
        if (keep)
            keep->append(value);
    }
    return {};
}

Result<void> Exchange::readCrcAndCompare(std::uint16_t crc)
{
    QByteArray sent;
    std::uint16_t ignored = kCrcStart;
    if (auto read = readThroughCrc(2, ignored, &sent); !read)
        return read;
    if (static_cast<std::uint8_t>(sent[0]) == (crc & 0xFF) && static_cast<std::uint8_t>(sent[1]) == (crc >> 8))
        return {};
    return fail(LinkError::CrcError);
}

Result<void> Exchange::checkEcho(const QByteArray &header, int bytes)
{
    if (header.left(bytes) != request_.left(bytes))
        return fail(LinkError::WrongReply);
    return {};
}

Result<QByteArray> Exchange::readReply(const ReplyShape &shape)
{
    std::uint16_t crc = kCrcStart;
    QByteArray header;
    if (auto read = readThroughCrc(shape.headerBytes, crc, &header); !read)
        return read.failure();
    // A reply to another block (a late answer to an earlier request) must not
    // be taken for this one: its echoed address tells them apart before its
    // length is believed.
    if (shape.echoBeforeData) {
        if (auto echo = checkEcho(header, shape.echoed); !echo)
            return echo.failure();
    }
    QByteArray data;
    if (auto read = readThroughCrc(reply::dataLength(shape, header), crc, &data); !read)
        return read.failure();
    if (auto checked = readCrcAndCompare(crc); !checked)
        return checked.failure();
    if (!shape.echoBeforeData) {
        if (auto echo = checkEcho(header, shape.echoed); !echo)
            return echo.failure();
    }
    return data;
}

} // namespace ostrand

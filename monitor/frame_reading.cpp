#include "frame_reading.h"

#include "link/crc16.h"
#include "link/modbus_exceptions.h"
#include "link/modbus_requests.h"

namespace ostrand {
namespace {

// The meter's keypad register: a write there is a key press, worth naming as one.
constexpr int kKeyRegister = 208;

int byteAt(const QByteArray &frame, int index)
{
    return static_cast<quint8>(frame.at(index));
}

int wordAt(const QByteArray &frame, int index)
{
    return byteAt(frame, index) * 256 + byteAt(frame, index + 1);
}

QString hexByte(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString spacedHex(const QByteArray &frame, int from, int count)
{
    return frameHex(frame.mid(from, count));
}

QString registerRange(int first, int count)
{
    if (count == 1)
        return QStringLiteral("register %1").arg(first);
    if (count < 1)
        return QStringLiteral("no registers from %1").arg(first);
    return QStringLiteral("registers %1-%2").arg(first).arg(first + count - 1);
}

QString keyName(int code)
{
    if (code >= 0x20 && code < 0x7F)
        return QStringLiteral("key '%1'").arg(QChar(code));
    return QStringLiteral("key code %1").arg(hexByte(code));
}

QString plural(int count, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// The frame lengths our own requests have; anything shorter cannot be read field by field.
int requestLength(int function)
{
    switch (function) {
    case request::kReadHoldingRegisters:
        return 8;
    case request::kReadLogBlock:
        return 9;
    case request::kReadLastDownloadPointer:
        return 9;
    case request::kWriteRegisters:
        return 9;
    default:
        return 4;
    }
}

QString writeReading(const QByteArray &frame)
{
    const int first = wordAt(frame, 2);
    const int count = wordAt(frame, 4);
    if (first == kKeyRegister && count == 1 && frame.size() >= 11)
        return QStringLiteral("write register %1: %2").arg(first).arg(keyName(byteAt(frame, 7)));
    return QStringLiteral("write %1, %2")
        .arg(registerRange(first, count), plural(byteAt(frame, 6), "byte", "bytes"));
}

QString holdingReply(const QByteArray &reply, const QByteArray &request)
{
    const int bytes = byteAt(reply, 2);
    const QString got = plural(bytes, "byte", "bytes");
    if (request.size() < 8 || byteAt(request, 1) != request::kReadHoldingRegisters)
        return QStringLiteral("%1 of registers").arg(got);
    const int first = wordAt(request, 2);
    const int count = wordAt(request, 4);
    const QString asked = registerRange(first, count);
    if (bytes != 2 * count)
        return QStringLiteral("%1 for %2 (%3 expected)").arg(got, asked).arg(2 * count);
    return QStringLiteral("%1: %2").arg(got, asked);
}

QString logBlockReply(const QByteArray &reply, const QByteArray &request)
{
    if (reply.size() < 9)
        return QStringLiteral("log block, %1 too short").arg(plural(reply.size(), "byte", "bytes"));
    const QString address = spacedHex(reply, 2, 3);
    const int length = wordAt(reply, 5);
    QString reading =
        QStringLiteral("log block %1: %2").arg(address, plural(length, "byte", "bytes"));
    if (request.size() >= 9 && byteAt(request, 1) == request::kReadLogBlock) {
        if (request.mid(2, 3) != reply.mid(2, 3))
            reading += QStringLiteral(", asked for %1").arg(spacedHex(request, 2, 3));
        const int asked = 2 * wordAt(request, 5);
        if (length != asked)
            reading += QStringLiteral(", %1 asked").arg(asked);
    }
    if (reply.size() - 9 != length)
        reading += QStringLiteral(", %1 came").arg(reply.size() - 9);
    return reading;
}

QString repliedFunction(const QByteArray &reply, const QByteArray &request)
{
    const int function = byteAt(reply, 1);
    switch (function) {
    case request::kReadHoldingRegisters:
        return holdingReply(reply, request);
    case request::kReadLogBlock:
        return logBlockReply(reply, request);
    case request::kReadLastDownloadPointer:
        if (reply.size() != 7)
            return QStringLiteral("pointer, %1").arg(plural(reply.size(), "byte", "bytes"));
        return QStringLiteral("pointer %1").arg(spacedHex(reply, 2, 3));
    case request::kConfirmDownload:
        return QStringLiteral("download stored: acknowledged");
    case request::kWriteRegisters:
        if (reply.size() != 8)
            return QStringLiteral("write acknowledged, %1")
                .arg(plural(reply.size(), "byte", "bytes"));
        return QStringLiteral("%1 written").arg(registerRange(wordAt(reply, 2), wordAt(reply, 4)));
    case request::kReadDisplayBlock:
        return QStringLiteral("display block %1")
            .arg(plural(qMax(0, reply.size() - 6), "byte", "bytes"));
    default:
        return QStringLiteral("function %1 reply, %2")
            .arg(hexByte(function), plural(reply.size(), "byte", "bytes"));
    }
}

} // namespace

bool isShortAcknowledgement(const QByteArray &reply, const QByteArray &request)
{
    return !reply.isEmpty() && reply.size() < 4 && request.size() >= 2
           && byteAt(request, 1) == request::kConfirmDownload;
}

bool frameCrcMatches(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    return appendCrc(frame.left(frame.size() - 2)) == frame;
}

QString frameHex(const QByteArray &frame)
{
    return QString::fromLatin1(frame.toHex(' ').toUpper());
}

QString readRequest(const QByteArray &frame)
{
    if (frame.size() < 2)
        return QStringLiteral("request of %1").arg(plural(frame.size(), "byte", "bytes"));
    const int function = byteAt(frame, 1);
    if (frame.size() < requestLength(function))
        return QStringLiteral("function %1 request, %2 too short")
            .arg(hexByte(function), plural(frame.size(), "byte", "bytes"));
    switch (function) {
    case request::kReadHoldingRegisters:
        return QStringLiteral("read holding %1")
            .arg(registerRange(wordAt(frame, 2), wordAt(frame, 4)));
    case request::kReadLogBlock:
        return QStringLiteral("log block %1, %2")
            .arg(spacedHex(frame, 2, 3), plural(wordAt(frame, 5), "word", "words"));
    case request::kReadLastDownloadPointer:
        return QStringLiteral("last-download pointer");
    case request::kConfirmDownload:
        return QStringLiteral("download stored");
    case request::kWriteRegisters:
        return writeReading(frame);
    case request::kReadDisplayBlock:
        return QStringLiteral("display block");
    default:
        return QStringLiteral("function %1").arg(hexByte(function));
    }
}

QString readReply(const QByteArray &reply, const QByteArray &request)
{
    if (isShortAcknowledgement(reply, request))
        return QStringLiteral("download stored: acknowledged by %1")
            .arg(plural(reply.size(), "byte", "bytes"));
    // Slave, function and the two CRC bytes: the least any reply can be.
    if (reply.size() < 4)
        return QStringLiteral("%1, too short for a reply")
            .arg(plural(reply.size(), "byte", "bytes"));
    if (!frameCrcMatches(reply))
        return QStringLiteral("reply CRC wrong");

    QString from;
    if (request.size() >= 2 && request.at(0) != reply.at(0))
        from = QStringLiteral("from slave %1: ").arg(byteAt(reply, 0));
    const int function = byteAt(reply, 1);
    if (function & 0x80) {
        if (reply.size() < 5)
            return from + QStringLiteral("exception without a code");
        const int code = byteAt(reply, 2);
        const QString name = exceptionName(code);
        return from + QStringLiteral("exception %1").arg(hexByte(code)) +
               (name.isEmpty() ? QString() : QStringLiteral(": ") + name);
    }
    if (request.size() >= 2 && byteAt(request, 1) != function)
        return from + QStringLiteral("function %1 reply to a function %2 request")
                          .arg(hexByte(function), hexByte(byteAt(request, 1)));
    return from + repliedFunction(reply, request);
}

} // namespace ostrand

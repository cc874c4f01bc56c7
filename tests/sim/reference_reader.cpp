#include "reference_reader.h"

#include "crc16.h"

#include <cmath>

namespace ostrand::sim::testing {

namespace {

int u8(const QByteArray &bytes, int at)
{
    return static_cast<unsigned char>(bytes.at(at));
}

struct Address {
    int a = 0, b = 0, c = 0;
    qint64 linear() const { return qint64(a) * 65536 + b * 256 + c; }
    bool operator==(const Address &o) const { return a == o.a && b == o.b && c == o.c; }
    void wrapPage()
    {
        if (b == 0xC0) {
            b = 0x80;
            a += 1;
        }
        if (a >= 24)
            a = 8;
    }
};

// The data of reply `frame` after `header` bytes, when its CRC checks.
std::optional<QByteArray> dataOf(const QByteArray &frame, int header, int length)
{
    if (frame.size() < header + length + 2 || !hasValidCrc(frame.left(header + length + 2)))
        return std::nullopt;
    return frame.mid(header, length);
}

Walk ended(int result)
{
    Walk w;
    w.result = result;
    return w;
}

} // namespace

QByteArray request(int slave, int function, const QByteArray &data)
{
    QByteArray frame = QByteArray(1, char(slave)) + char(function) + data;
    appendCrc(frame);
    return frame;
}

double decodeMeterFloat(const QByteArray &four)
{
    const bool negative = u8(four, 0) & 0x80;
    const int e = 2 * (u8(four, 0) & 0x7F) + (u8(four, 1) >> 7);
    if (e < 2)
        return negative ? -1e-37 : 0.0;
    if (e > 252)
        return negative ? -1e37 : 1e37;
    const double m = double((u8(four, 1) | 0x80) * 65536 + u8(four, 2) * 256 + u8(four, 3));
    const double value = (negative ? -1.0 : 1.0) * (m / 16777216.0) * std::pow(2.0, e - 126);
    return value > 1e37 ? 1e37 : value;
}

std::optional<DecodedRecord> decodeRecord(const QByteArray &eight)
{
    bool ok = true;
    const auto bcd = [&ok](int v) {
        ok = ok && (v >> 4) <= 9 && (v & 0x0F) <= 9;
        return (v >> 4) * 10 + (v & 0x0F);
    };
    for (int i = 0; i < 4; ++i)
        ok = ok && u8(eight, i) != 0xFF;
    const int channel = u8(eight, 0) >> 4;
    const int year = 2000 + (u8(eight, 1) >> 6) * 8 + (u8(eight, 2) >> 6) * 2 + (u8(eight, 3) >> 7);
    const QDate date(year, u8(eight, 0) & 0x0F, bcd(u8(eight, 1) & 0x3F));
    const int hour = bcd(u8(eight, 2) & 0x3F);
    const int minute = bcd(u8(eight, 3) & 0x7F);
    if (!ok || channel < 1 || channel > 8 || !date.isValid() || hour > 23 || minute > 59)
        return std::nullopt;
    const QDateTime stamp(date, QTime(hour, minute), Qt::UTC);
    return DecodedRecord{channel, (hour == 0 && minute == 0) ? stamp.addDays(1) : stamp,
                         decodeMeterFloat(eight.mid(4, 4))};
}

Walk downloadLog(Meter &meter, bool portable, bool sinceLastTime, const QDateTime &now)
{
    const int slave = meter.slaveAddress();
    Address start;
    qint64 p1 = 0;
    if (sinceLastTime) {
        const auto d =
            dataOf(meter.respond(request(slave, 0x61, QByteArray(5, '\0')), now).bytes, 2, 3);
        if (!d)
            return ended(80);
        start = Address{u8(*d, 0), u8(*d, 1), u8(*d, 2)};
        p1 = start.linear();
        start.c += 8;
        if (start.c > 255) {
            start.c -= 256;
            start.b += 1;
        }
        start.wrapPage();
    }
    const auto regs =
        dataOf(meter.respond(request(slave, 3, QByteArray::fromHex("004C0008")), now).bytes, 3, 16);
    if (!regs)
        return ended(80);
    const int o = portable ? 0 : 1; // D1 is regs[0]
    if (!sinceLastTime) {
        start = Address{u8(*regs, o), u8(*regs, o + 1), u8(*regs, o + 2)};
        p1 = start.linear();
    }
    const int a1 = int(p1 >> 16);
    const Address end{u8(*regs, o + 4), u8(*regs, o + 5), u8(*regs, o + 6)};
    const qint64 p2 = end.linear();
    Walk walk;
    if (p2 > p1)
        walk.byteCount = (p2 - p1) - ((end.a - 8) - (a1 - 8)) * 16384 + 8;
    else if (p2 < p1)
        walk.byteCount = (p2 - 0x088000) + (0x17C000 - p1) - ((23 - a1) + (end.a - 8)) * 16384;
    const qint64 n = walk.byteCount;
    if (n == 0)
        return ended(1);

    qint64 done = 0;
    qint64 s = std::min<qint64>(n, 256);
    Address at = start;
    for (int guard = 0; guard < 20000; ++guard) {
        const int words = int(std::lround(s / 2.0));
        const QByteArray ask = QByteArray(1, char(at.a)) + char(at.b) + char(at.c) +
                               char(words >> 8) + char(words & 0xFF);
        std::optional<QByteArray> data;
        for (int attempt = 0; attempt < 5 && !data; ++attempt) {
            const QByteArray reply = meter.respond(request(slave, 0x60, ask), now).bytes;
            if (reply.size() >= 7)
                data = dataOf(reply, 7, u8(reply, 5) * 256 + u8(reply, 6));
        }
        if (!data) {
            walk.result = 4;
            break;
        }
        for (int i = 0; i + 8 <= data->size(); i += 8) {
            if (const auto record = decodeRecord(data->mid(i, 8)))
                walk.records << *record;
        }
        if (done + 256 <= n) {
            done += 256;
            at.b += 1;
        } else {
            if (s < 256 || (s = n - done) == 0)
                break;
            done += s;
            at.c += int(s);
            if (at.c > 255) {
                at.b += 1;
                at.c -= 256;
            }
        }
        at.wrapPage();
        if (at == end)
            break;
    }
    return walk;
}

} // namespace ostrand::sim::testing

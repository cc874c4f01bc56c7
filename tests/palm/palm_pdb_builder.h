#pragma once

#include <QDateTime>
#include <QFile>
#include <QtEndian>
#include <cstring>
#include <vector>

namespace ostrand::testing {

// The last `bytes` bytes of `value`, most significant first.
inline QByteArray bigEndian(quint32 value, int bytes)
{
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out.right(bytes);
}

// One log record of channel `channel` stamped `when` (2000 to 2099), its name
// padded with 0xFF filler to 10 bytes. Tests change its bytes for odd cases.
inline QByteArray palmRecord(int modId, int channel, const QByteArray &name, const QDateTime &when,
                             float value)
{
    const auto bcd = [](int v) { return (v / 10 % 10) << 4 | v % 10; };
    QByteArray r = QByteArray("\xAA\x55\0\0\0\0", 6) + char(modId) + char(channel << 4);
    r += (name.left(10) + QByteArray(10, char(0xFF))).left(10) + QByteArray(4, '\0');
    for (const int field :
         {bcd(when.date().year() - 2000), when.date().month(), bcd(when.date().day()),
          bcd(when.time().hour()), bcd(when.time().minute())})
        r += char(field);
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return r + bigEndian(bits, 4) + '\0';
}

// What a meter writes for a sample taken at `instant`: the sample at midnight
// closes the day before and carries that day's date.
inline QDateTime meterStamp(const QDateTime &instant)
{
    return instant.time() == QTime(0, 0) ? instant.addDays(-1) : instant;
}

// A Palm OS database as a HotSync leaves it: the 78-byte header, the record
// list (offset, dirty, unique ID from `seed` on), two bytes of gap, then the
// database records back to back (each one or more log records).
struct PalmDatabaseBuilder {
    PalmDatabaseBuilder &add(const QByteArray &record)
    {
        records.push_back(record);
        return *this;
    }
    QByteArray build() const
    {
        const quint32 count = quint32(records.size());
        // Name, attributes (back up at HotSync), version, three dates,
        // modification number, no application or sort info, type and creator.
        QByteArray out = QByteArray::fromHex(
            "504c4f4752320000000000000000000000000000000000000000000000000000"
            "00080001c3500000c3500001c350000200000001000000000000000044415441504c6732");
        out += bigEndian(seed + count, 4) + bigEndian(0, 4) + bigEndian(count, 2);
        quint32 offset = 78 + 8 * count + 2;
        for (quint32 i = 0; i < count; ++i) {
            out += bigEndian(offset, 4) + bigEndian(0x40000000 | (seed + i) % 0x1000000, 4);
            offset += quint32(records[i].size());
        }
        out += QByteArray(2, '\0');
        for (const QByteArray &record : records)
            out += record;
        return out;
    }
    bool writeTo(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(build()) >= 0 && file.flush();
    }

    std::vector<QByteArray> records;
    quint32 seed = 0x500001;
};

} // namespace ostrand::testing

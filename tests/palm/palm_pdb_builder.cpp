#include "palm_pdb_builder.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

namespace ostrand::testing {
namespace {

int bcd(int value)
{
    return (value / 10 % 10) << 4 | value % 10;
}

void appendBig(QByteArray &out, quint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char(value >> (8 * i)));
}

} // namespace

QByteArray palmRecord(int modId, int channel, const QByteArray &name, const QDateTime &when,
                      float value)
{
    const QDate d = when.date();
    QByteArray r = QByteArray("\xAA\x55", 2) + QByteArray(4, '\0');
    r += char(modId);
    r += char(channel << 4);
    r += (name.left(10) + QByteArray(10, char(0xFF))).left(10) + QByteArray(4, '\0');
    for (const int field : {bcd(d.year() - 2000), d.month(), bcd(d.day()), bcd(when.time().hour()),
                            bcd(when.time().minute())})
        r += char(field);
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendBig(r, bits, 4);
    return r + QByteArray(1, '\0');
}

QDateTime meterStamp(const QDateTime &instant)
{
    return instant.time() == QTime(0, 0) ? instant.addDays(-1) : instant;
}

QByteArray PalmDatabaseBuilder::build() const
{
    const quint32 count = quint32(records.size());
    QByteArray out = QByteArray("PLOGR2").leftJustified(32, '\0');
    // Attributes (back up at HotSync), version, three dates, modification
    // number, no application or sort info.
    out += QByteArray::fromHex("00080001c3500000c3500001c350000200000001"
                               "0000000000000000");
    out += "DATAPLg2";
    appendBig(out, seed + count, 4);
    appendBig(out, 0, 4); // next record list
    appendBig(out, count, 2);
    quint32 offset = 78 + 8 * count + 2;
    for (quint32 i = 0; i < count; ++i) {
        appendBig(out, offset, 4);
        out.append(char(0x40)); // dirty
        appendBig(out, seed + i, 3);
        offset += quint32(records[i].size());
    }
    out += QByteArray(2, '\0');
    for (const QByteArray &record : records)
        out += record;
    return out;
}

bool PalmDatabaseBuilder::writeTo(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(build()) >= 0 && file.flush();
}

} // namespace ostrand::testing

#include "palm_pdb_builder.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

namespace ostrand::testing
{
namespace
{

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

QByteArray palmRecord(const PalmRecordFields &f)
{
    QByteArray r(32, '\0');
    r[0] = char(f.sync ? 0xAA : 0xAB);
    r[1] = char(0x55);
    r[6] = char(f.modId);
    r[7] = char(f.channelCode);
    const QByteArray name = f.name.left(10) + QByteArray(10, char(0xFF));
    std::memcpy(r.data() + 8, name.constData(), 10);
    const int stamp[5] = {f.year, f.month, f.day, f.hour, f.minute};
    for (int i = 0; i < 5; ++i)
        r[22 + i] = char(stamp[i]);
    quint32 bits;
    std::memcpy(&bits, &f.value, sizeof bits);
    qToBigEndian(bits, r.data() + 27);
    return r;
}

QByteArray palmRecord(int modId, int channel, const QByteArray &name, const QDateTime &when,
                      float value)
{
    const QDate d = when.date();
    const QTime t = when.time();
    return palmRecord({modId, channel << 4, name, bcd(d.year() - 2000), d.month(), bcd(d.day()),
                       bcd(t.hour()), bcd(t.minute()), value, true});
}

QDateTime meterStamp(const QDateTime &instant)
{
    return instant.time() == QTime(0, 0) ? instant.addDays(-1) : instant;
}

PalmDatabaseBuilder &PalmDatabaseBuilder::add(const QByteArray &record)
{
    records_.push_back(record);
    return *this;
}

PalmDatabaseBuilder &PalmDatabaseBuilder::uniqueIdSeed(quint32 seed)
{
    seed_ = seed;
    return *this;
}

PalmDatabaseBuilder &PalmDatabaseBuilder::appInfo(const QByteArray &block)
{
    appInfo_ = block;
    return *this;
}

QByteArray PalmDatabaseBuilder::build() const
{
    const quint32 count = quint32(records_.size());
    Q_ASSERT(count <= 0xFFFF); // the header counts records in 16 bits
    const quint32 appInfoAt = 78 + 8 * count + 2;
    QByteArray out = QByteArray("PLOGR2").leftJustified(32, '\0');
    appendBig(out, 0x0008, 2); // attributes: back up at HotSync
    appendBig(out, 1, 2);      // version
    for (int i = 0; i < 3; ++i)
        appendBig(out, 0xC3500000u + i, 4); // created, modified, backed up
    appendBig(out, 1, 4);                   // modification number
    appendBig(out, appInfo_.isEmpty() ? 0 : appInfoAt, 4);
    appendBig(out, 0, 4); // sort info
    out += "DATAPLg2";    // type, creator
    appendBig(out, seed_ + count, 4);
    appendBig(out, 0, 4); // next record list
    appendBig(out, count, 2);
    quint32 offset = appInfoAt + quint32(appInfo_.size());
    for (quint32 i = 0; i < count; ++i) {
        appendBig(out, offset, 4);
        out.append(char(0x40)); // dirty
        appendBig(out, seed_ + i, 3);
        offset += quint32(records_[i].size());
    }
    out += QByteArray(2, '\0');
    out += appInfo_;
    for (const QByteArray &record : records_)
        out += record;
    return out;
}

bool PalmDatabaseBuilder::writeTo(const QString &path) const
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(build()) >= 0 && file.flush();
}

} // namespace ostrand::testing

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <vector>

namespace ostrand::testing {

// One log record of channel `channel` stamped `when` (2000 to 2099), its name
// padded with 0xFF filler to 10 bytes. Tests change its bytes for odd cases.
QByteArray palmRecord(int modId, int channel, const QByteArray &name, const QDateTime &when,
                      float value);

// What a meter writes for a sample taken at `instant`: the sample at midnight
// closes the day before and carries that day's date.
QDateTime meterStamp(const QDateTime &instant);

// A Palm OS database as a HotSync leaves it: the 78-byte header, the record
// list (offset, attributes, unique ID from `seed` on), two bytes of gap, then
// the database records back to back (each one or more log records).
struct PalmDatabaseBuilder {
    PalmDatabaseBuilder &add(const QByteArray &record)
    {
        records.push_back(record);
        return *this;
    }
    QByteArray build() const;
    bool writeTo(const QString &path) const;

    std::vector<QByteArray> records;
    quint32 seed = 0x500001;
};

} // namespace ostrand::testing

#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

namespace ostrand::testing
{

// The bytes of one log record. Date and time are the raw bytes (year, day,
// hour and minute in BCD, month binary), so a test can write impossible ones.
struct PalmRecordFields {
    int modId = 1;
    int channelCode = 0x10;
    QByteArray name = "Flow"; // padded with 0xFF filler to 10 bytes
    int year = 0x07, month = 12, day = 0x05, hour = 0x09, minute = 0x30;
    float value = 100;
    bool sync = true;
};
QByteArray palmRecord(const PalmRecordFields &fields);

// A record of channel `channel` whose bytes read `when` (2000 to 2099).
QByteArray palmRecord(int modId, int channel, const QByteArray &name, const QDateTime &when,
                      float value);

// What a meter writes for a sample taken at `instant`: the sample at midnight
// closes the day before and carries that day's date.
QDateTime meterStamp(const QDateTime &instant);

// A Palm OS database as a HotSync leaves it: the 78-byte header, the record
// list (offset, attributes, unique ID), two bytes of gap, an optional
// application-info block, then the records back to back.
class PalmDatabaseBuilder
{
public:
    // Adds a database record: one log record, or several back to back (at most
    // 65535 database records fit the header's count).
    PalmDatabaseBuilder &add(const QByteArray &record);
    // Unique IDs count up from `seed`.
    PalmDatabaseBuilder &uniqueIdSeed(quint32 seed);
    // A block between the record list and the first record.
    PalmDatabaseBuilder &appInfo(const QByteArray &block);
    int recordCount() const { return int(records_.size()); }
    // The file's bytes.
    QByteArray build() const;
    // Writes build() to `path`.
    bool writeTo(const QString &path) const;

private:
    std::vector<QByteArray> records_;
    quint32 seed_ = 0x500001;
    QByteArray appInfo_;
};

} // namespace ostrand::testing

#include "log_decoder.h"

#include "table/grid_layout.h"
#include "table/grid_row_buffer.h"
#include "table/meter_float.h"

#include <QtEndian>

#include <algorithm>

namespace ostrand {
namespace {

constexpr int kRecordSize = 8;
constexpr quint8 kErased = 0xFF;
constexpr quint32 kChannelBits = 0xF0; // of bytes 1 to 4 read little-endian

struct Stamp {
    bool valid = false;
    QDate date;
    QTime time;
};

// A two-digit BCD field; -1 when a digit is above 9.
int bcdValue(int field)
{
    const int units = field & 0x0F;
    return units > 9 ? -1 : (field >> 4) * 10 + units;
}

// Date and time from bytes 1 to 4 of a record; the channel nibble plays no part.
Stamp decodeStamp(const quint8 *record)
{
    const int month = record[0] & 0x0F;
    const int day = bcdValue(record[1] & 0x3F);
    const int hour = bcdValue(record[2] & 0x3F);
    const int minute = bcdValue(record[3] & 0x7F);
    // The year's five bits are spread over the top bits of bytes 2 to 4.
    const int year = 2000 + ((record[1] >> 6) << 3) + ((record[2] >> 6) << 1) + (record[3] >> 7);
    Stamp stamp;
    const bool digitsValid = day >= 0 && hour >= 0 && minute >= 0;
    if (!digitsValid || hour > 23 || minute > 59 || !QDate::isValid(year, month, day))
        return stamp;
    stamp.valid = true;
    stamp.date = QDate(year, month, day);
    stamp.time = QTime(hour, minute);
    // The meter stamps the end of a day as 00:00 of that same day.
    if (hour == 0 && minute == 0)
        stamp.date = stamp.date.addDays(1);
    return stamp;
}

char *appendNumber(char *out, int value)
{
    char digits[12];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n > 0)
        *out++ = digits[--n];
    return out;
}

char *appendTwoDigits(char *out, int value)
{
    *out++ = char('0' + value / 10);
    *out++ = char('0' + value % 10);
    return out;
}

} // namespace

bool isWrittenRecord(const char *record)
{
    const auto *bytes = reinterpret_cast<const quint8 *>(record);
    return std::find(bytes, bytes + 4, kErased) == bytes + 4;
}

QString stampText(const QDate &date, const QTime &time)
{
    if (!date.isValid())
        return QString();
    char text[40];
    char *out = appendNumber(text, date.month());
    *out++ = '/';
    out = appendNumber(out, date.day());
    *out++ = '/';
    out = appendNumber(out, date.year());
    if (time.isValid() && time != QTime(0, 0)) {
        const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
        *out++ = ' ';
        out = appendNumber(out, hour12);
        *out++ = ':';
        out = appendTwoDigits(out, time.minute());
        *out++ = ':';
        out = appendTwoDigits(out, time.second());
        *out++ = ' ';
        *out++ = time.hour() < 12 ? 'A' : 'P';
        *out++ = 'M';
    }
    return QString::fromLatin1(text, out - text);
}

bool decodeLogBlock(const QByteArray &data, ResultsGrid &grid, GridState &state,
                    int *recordsLeftOut)
{
    ResultsGrid::BulkUpdate bulk(grid);
    GridRowBuffer pending(grid);

    // The records of one logging instant differ only in the channel nibble,
    // so the stamp is decoded once per instant.
    quint32 cachedKey = 0;
    Stamp cached;
    bool haveCached = false;

    const auto *bytes = reinterpret_cast<const quint8 *>(data.constData());
    const qsizetype records = data.size() / kRecordSize;
    for (qsizetype i = 0; i < records; ++i) {
        const quint8 *record = bytes + i * kRecordSize;
        const int channel = record[0] >> 4;
        if (channel < 1 || channel > kChannelCount)
            continue;
        state.channel(channel).inUse = true;
        if (!isWrittenRecord(reinterpret_cast<const char *>(record)))
            continue;

        const quint32 key = qFromLittleEndian<quint32>(record) & ~kChannelBits;
        if (!haveCached || key != cachedKey) {
            cached = decodeStamp(record);
            cachedKey = key;
            haveCached = true;
        }
        if (!cached.valid)
            continue;

        RowStamp &last = state.lastRowStamp;
        // Date and time both count: rows a whole day apart at the same minute
        // are different instants.
        if (last.empty || last.date != cached.date || last.time != cached.time) {
            ++state.lastGridRow;
            last = {false, cached.date, cached.time};
        }
        if (pending.row() != state.lastGridRow) {
            pending.start(state.lastGridRow);
            if (pending.inGrid()) {
                pending.set(kRecordCol, QString::number(state.lastGridRow - 1));
                pending.set(kStampCol, stampText(cached.date, cached.time));
            }
        }
        if (!pending.inGrid()) {
            if (recordsLeftOut)
                ++*recordsLeftOut;
            continue;
        }

        const double value = decodeMeterFloat(record[4], record[5], record[6], record[7]);
        const bool total = state.channel(channel).total;
        pending.set(channelCol(channel), total ? totalValueText(value) : valueText(value));
        if (total && state.keepExactTotals)
            state.exactTotals.insert(GridState::cellKey(state.lastGridRow, channel), value);
    }
    return true;
}

} // namespace ostrand

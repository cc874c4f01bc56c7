#include "circular_log.h"

#include <algorithm>

namespace ostrand::sim {

CircularLog::CircularLog(int firstSlot)
    : pages_(kLogBytes / kPageBytes, QByteArray(kPageBytes, char(0xFF))),
      oldest_(wrapSlot(firstSlot)), write_(oldest_)
{
}

int CircularLog::wrapSlot(int slot)
{
    slot %= kSlots;
    return slot < 0 ? slot + kSlots : slot;
}

void CircularLog::eraseSlot(int slot)
{
    if (isErasedSlot(slot))
        return;
    RecordBytes erased;
    erased.fill(0xFF);
    writeSlot(slot, erased);
}

bool CircularLog::isErasedSlot(int slot) const
{
    const RecordBytes bytes = slotBytes(slot);
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

void CircularLog::writeSlot(int slot, const RecordBytes &record)
{
    const int at = wrapSlot(slot) * kRecordBytes;
    QByteArray &page = pages_[at / kPageBytes];
    std::copy(record.begin(), record.end(), page.begin() + at % kPageBytes);
}

RecordBytes CircularLog::slotBytes(int slot) const
{
    RecordBytes bytes{};
    const int at = wrapSlot(slot) * kRecordBytes;
    const QByteArray &page = pages_.at(at / kPageBytes);
    for (int i = 0; i < kRecordBytes; ++i)
        bytes[i] = static_cast<std::uint8_t>(page.at(at % kPageBytes + i));
    return bytes;
}

void CircularLog::append(const RecordBytes &record)
{
    // The slot a confirmed download left as its marker stays erased, so that an
    // unchanged log keeps start == end for "since last time".
    if (confirmed_ && write_ == confirmedSlot_) {
        write_ = wrapSlot(write_ + 1);
        ++used_;
    }
    writeSlot(write_, record);
    if (!isErasedRecord(record))
        ++records_;
    write_ = wrapSlot(write_ + 1);
    ++used_;

    while (used_ > kCapacity) {
        if (!isErasedRecord(slotBytes(oldest_)))
            --records_;
        oldest_ = wrapSlot(oldest_ + 1);
        --used_;
    }
    for (int i = 0; i < kGapSlots; ++i)
        eraseSlot(wrapSlot(write_ + i));

    // A marker the log has overrun no longer stands for anything still held: the next
    // "since last time" then takes the whole log.
    if (confirmed_ && distance(confirmedSlot_, write_) > distance(startSlot(), write_) + 1)
        confirmed_ = false;
}

void CircularLog::confirmDownload()
{
    confirmed_ = true;
    confirmedSlot_ = write_;
}

int CircularLog::startSlot() const
{
    // Whole pages behind the end: a reader walking from the start in 256-byte steps then
    // lands exactly on the end pointer, however many banks the log spans.
    const int pages = (used_ + kGapSlots - 1) / kGapSlots;
    return wrapSlot(write_ - pages * kGapSlots);
}

LogAddress CircularLog::startPointer() const
{
    return logAddressAt(startSlot() * kRecordBytes);
}

LogAddress CircularLog::endPointer() const
{
    return logAddressAt(write_ * kRecordBytes);
}

LogAddress CircularLog::lastDownloadPointer() const
{
    if (confirmed_)
        return logAddressAt(confirmedSlot_ * kRecordBytes);
    if (records_ == 0)
        return endPointer();
    return logAddressAt((startSlot() - 1) * kRecordBytes);
}

QByteArray CircularLog::read(int offset, int length) const
{
    QByteArray out;
    out.reserve(length);
    int at = ((offset % kLogBytes) + kLogBytes) % kLogBytes;
    while (out.size() < length) {
        const int chunk = std::min<int>(length - out.size(), kPageBytes - at % kPageBytes);
        out.append(pages_.at(at / kPageBytes).constData() + at % kPageBytes, chunk);
        at = (at + chunk) % kLogBytes;
    }
    return out;
}

CircularLog CircularLog::build(const QVector<LogRecord> &records, bool wrapped)
{
    const int total = records.size();
    const int kept = std::min(total, kCapacity);
    const int pages = (kept + kGapSlots - 1) / kGapSlots;
    // Ending on a page boundary keeps the start pointer on one too; a wrapped log puts
    // about half its pages before the end of memory and the rest after its beginning.
    const int endSlot =
        (wrapped && total <= kCapacity) ? (pages / 2) * kGapSlots : (pages * kGapSlots) % kSlots;
    CircularLog log(endSlot - kept);
    for (int i = total - kept; i < total; ++i)
        log.append(records.at(i));
    return log;
}

} // namespace ostrand::sim

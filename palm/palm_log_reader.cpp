#include "palm_log_reader.h"

#include "download/download_engine.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace ostrand {
namespace {

constexpr quint8 kSync0 = 0xAA;
constexpr quint8 kSync1 = 0x55;

// The Palm OS database header and the entries of its record list.
constexpr qint64 kHeaderSize = 78;
constexpr qint64 kNumRecordsAt = 76;
constexpr qint64 kListEntrySize = 8;

} // namespace

PalmLogReader::PalmLogReader(qint64 blockSize) : blockSize_(std::max<qint64>(blockSize, 1))
{
}

PalmLogReader::~PalmLogReader()
{
    ClosePalmLog();
}

qint16 PalmLogReader::OpenPalmLog(const QString &path)
{
    ClosePalmLog();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return download_result::kPalmFileMissing;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return palm_result::kPalmFileUnreadable;
    file_ = std::move(file);
    device_ = file_.get();
    reset();
    return download_result::kComplete;
}

qint16 PalmLogReader::OpenPalmLog(QIODevice &device)
{
    ClosePalmLog();
    if (!device.isOpen() && !device.open(QIODevice::ReadOnly))
        return palm_result::kPalmFileUnreadable;
    if (!device.isReadable())
        return palm_result::kPalmFileUnreadable;
    device_ = &device;
    reset();
    return download_result::kComplete;
}

void PalmLogReader::ClosePalmLog()
{
    if (device_)
        device_->close();
    device_ = nullptr;
    file_.reset();
    buffer_.clear();
    pos_ = end_ = 0;
}

void PalmLogReader::reset()
{
    buffer_.resize(blockSize_ + kPalmLogRecordSize);
    pos_ = end_ = 0;
    atEnd_ = false;
    failed_ = false;
}

// Where the log records can begin. A database header and record list that
// hold together are skipped: their offsets and unique IDs can contain the
// sync pair (a record list entry reads 00 AA 55 xx in any file above 11 MB),
// and reading 32-byte records from there would never meet a real sync again.
// Anything else is searched from its first byte.
qint64 PalmLogReader::firstRecordOffset()
{
    if (device_->isSequential())
        return 0;
    const qint64 size = device_->size();
    uchar header[kHeaderSize + kListEntrySize];
    if (size < qint64(sizeof header) || !device_->seek(0) ||
        device_->read(reinterpret_cast<char *>(header), sizeof header) != qint64(sizeof header))
        return 0;
    const qint64 records = qFromBigEndian<quint16>(header + kNumRecordsAt);
    const qint64 listEnd = kHeaderSize + records * kListEntrySize;
    const qint64 first = qFromBigEndian<quint32>(header + kHeaderSize);
    if (records == 0 || listEnd > size || first < listEnd || first >= size)
        return 0;
    uchar last[kListEntrySize];
    if (!device_->seek(listEnd - kListEntrySize) ||
        device_->read(reinterpret_cast<char *>(last), sizeof last) != qint64(sizeof last))
        return 0;
    const qint64 lastOffset = qFromBigEndian<quint32>(last);
    return lastOffset >= first && lastOffset <= size ? first : 0;
}

bool PalmLogReader::seekTo(qint64 offset)
{
    pos_ = end_ = 0;
    atEnd_ = false;
    if (device_->isSequential())
        return true;
    if (!device_->seek(offset))
        failed_ = true;
    return !failed_;
}

// Moves what is left to the front and reads one block after it.
bool PalmLogReader::fill()
{
    if (atEnd_)
        return false;
    const qsizetype left = end_ - pos_;
    std::memmove(buffer_.data(), buffer_.constData() + pos_, size_t(left));
    pos_ = 0;
    end_ = left;
    const qint64 got = device_->read(buffer_.data() + end_, blockSize_);
    if (got < 0)
        failed_ = true;
    if (got <= 0) {
        atEnd_ = true;
        return false;
    }
    end_ += got;
    return true;
}

bool PalmLogReader::FindFirstRecord()
{
    if (!device_ || !seekTo(firstRecordOffset()))
        return false;
    for (;;) {
        const auto *bytes = reinterpret_cast<const uchar *>(buffer_.constData());
        while (pos_ < end_) {
            const auto *hit =
                static_cast<const uchar *>(std::memchr(bytes + pos_, kSync0, size_t(end_ - pos_)));
            if (!hit) {
                pos_ = end_;
                break;
            }
            pos_ = hit - bytes;
            // A 0xAA that ends the block waits for the next block's first byte.
            if (pos_ + 1 == end_)
                break;
            if (bytes[pos_ + 1] == kSync1)
                return true;
            ++pos_;
        }
        if (!fill())
            return false;
    }
}

bool PalmLogReader::ReadNextRecord(PalmLogRecord &record)
{
    if (!device_)
        return false;
    while (end_ - pos_ < kPalmLogRecordSize) {
        if (!fill())
            return false;
    }
    std::memcpy(&record, buffer_.constData() + pos_, kPalmLogRecordSize);
    pos_ += kPalmLogRecordSize;
    return true;
}

} // namespace ostrand

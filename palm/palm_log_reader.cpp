#include "palm_log_reader.h"

#include "download/download_result.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace ostrand {
namespace {

constexpr quint8 kSync0 = 0xAA;
constexpr quint8 kSync1 = 0x55;

// The Palm OS database header and the entries of its record list.
constexpr qint64 kHeaderSize = 78;
constexpr size_t kNameSize = 32;
constexpr qint64 kAttributesAt = 32;
constexpr qint64 kAppInfoAt = 52;
constexpr qint64 kTypeAt = 60;
constexpr qint64 kNumRecordsAt = 76;
constexpr qint64 kListEntrySize = 8;
// A resource database (its list entries are laid out otherwise) and bits no
// Palm OS version assigns.
constexpr quint16 kForeignAttributes = 0x0001 | 0x7000;

} // namespace

PalmLogReader::PalmLogReader(qint64 blockSize) : blockSize_(std::max<qint64>(blockSize, 1))
{
}

PalmLogReader::~PalmLogReader()
{
    close();
}

DownloadResult PalmLogReader::open(const QString &path)
{
    close();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        error_ = QStringLiteral("%1: no such file").arg(path);
        return DownloadResult::PalmFileMissing;
    }
    if (!info.isFile()) {
        error_ = QStringLiteral("%1 is not a regular file (%2)")
                     .arg(path, info.isDir() ? QStringLiteral("a folder")
                                             : QStringLiteral("a device, pipe or socket"));
        return DownloadResult::PalmFileMissing;
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("%1 cannot be read: %2").arg(path, file->errorString());
        return DownloadResult::PalmFileMissing;
    }
    file_ = std::move(file);
    device_ = file_.get();
    return opened();
}

DownloadResult PalmLogReader::open(QIODevice &device)
{
    close();
    if ((!device.isOpen() && !device.open(QIODevice::ReadOnly)) || !device.isReadable()) {
        error_ = device.errorString();
        return DownloadResult::PalmFileUnreadable;
    }
    device_ = &device;
    return opened();
}

DownloadResult PalmLogReader::opened()
{
    reset();
    inspectHeader();
    return DownloadResult::Complete;
}

void PalmLogReader::close()
{
    if (device_)
        device_->close();
    device_ = nullptr;
    file_.reset();
    buffer_.clear();
    pos_ = end_ = 0;
    error_.clear();
    header_ = Header();
    size_ = 0;
}

void PalmLogReader::reset()
{
    buffer_.resize(blockSize_ + kPalmLogRecordSize);
    pos_ = end_ = 0;
    atEnd_ = false;
    failed_ = false;
}

namespace {

// A name of printable characters ended by a NUL within its 32 bytes.
bool isDatabaseName(const uchar *name)
{
    const uchar *nul = static_cast<const uchar *>(std::memchr(name, 0, kNameSize));
    return nul && nul != name &&
           std::all_of(name, nul, [](uchar c) { return c >= 0x20 && c != 0x7F; });
}

// Type and creator: four printable ASCII characters each.
bool isTypeAndCreator(const uchar *codes)
{
    return std::all_of(codes, codes + 8, [](uchar c) { return c >= 0x20 && c < 0x7F; });
}

} // namespace

// Looks at the database header and the record list. One that holds together
// is skipped by the sync search: their offsets and unique IDs can contain the
// sync pair (a record list entry reads 00 AA 55 xx in any file above 11 MB),
// and reading 32-byte records from there would never meet a real sync again.
// Offsets past the end are allowed: a copy cut short keeps its whole list,
// which then says how much is missing.
void PalmLogReader::inspectHeader()
{
    if (device_->isSequential())
        return;
    size_ = device_->size();
    header_.known = true;
    uchar header[kHeaderSize];
    if (size_ < kHeaderSize || !device_->seek(0) ||
        device_->read(reinterpret_cast<char *>(header), kHeaderSize) != kHeaderSize)
        return;
    const qint64 records = qFromBigEndian<quint16>(header + kNumRecordsAt);
    const qint64 listEnd = kHeaderSize + records * kListEntrySize;
    const qint64 appInfo = qFromBigEndian<quint32>(header + kAppInfoAt);
    if (!isDatabaseName(header) ||
        (qFromBigEndian<quint16>(header + kAttributesAt) & kForeignAttributes) ||
        !isTypeAndCreator(header + kTypeAt) || listEnd > size_ ||
        (appInfo != 0 && (appInfo < listEnd || appInfo >= size_)))
        return;
    const QByteArray list = device_->read(listEnd - kHeaderSize);
    if (list.size() != listEnd - kHeaderSize)
        return;
    qint64 previous = listEnd;
    for (qint64 i = 0; i < records; ++i) {
        const qint64 offset = qFromBigEndian<quint32>(
            reinterpret_cast<const uchar *>(list.constData()) + i * kListEntrySize);
        if (offset < previous)
            return;
        previous = offset;
    }
    header_.database = true;
    if (records > 0) {
        header_.firstRecord =
            qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(list.constData()));
        header_.declaredEnd = previous + kPalmLogRecordSize;
    }
}

int PalmLogReader::recordsCutOff() const
{
    if (!device_ || failed_ || !atEnd_)
        return 0;
    qint64 missing = end_ > pos_ ? 1 : 0;
    if (header_.database && header_.declaredEnd > size_)
        missing = std::max(missing, (header_.declaredEnd - size_ + kPalmLogRecordSize - 1) /
                                        kPalmLogRecordSize);
    return int(std::min<qint64>(missing, std::numeric_limits<int>::max()));
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

bool PalmLogReader::findFirstRecord()
{
    const qint64 start = header_.database && header_.firstRecord < size_ ? header_.firstRecord : 0;
    if (!device_ || !seekTo(start))
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

bool PalmLogReader::readNextRecord(PalmLogRecord &record)
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

#pragma once

#include "log_address.h"
#include "log_record.h"

#include <QByteArray>
#include <QVector>

namespace ostrand::sim {

// The meter's data log: a ring of 8-byte record slots over the whole log memory, with
// the start, end and last-download pointers the meter reports.
//
// Conventions (what a reader of the pointers can rely on):
// - end pointer: the slot the next record goes to (one past the newest record);
// - start pointer: a whole number of 256-byte pages before the end pointer, at or before
//   the oldest record; slots between it and the oldest record are erased;
// - the 32 slots from the end pointer on are always erased (the meter erases a page ahead
//   of itself), so a full log holds 32736 records and a reader overrunning the end meets
//   erased slots first;
// - last-download pointer: the slot after which the next "since last time" download
//   starts. Until a download is confirmed it is the slot before the start pointer (or
//   the end pointer of an empty log); a confirmation sets it to the end pointer and the
//   meter leaves that slot unwritten, so "nothing new" reads as start == end.
class CircularLog {
public:
    static constexpr int kSlots = kLogBytes / kRecordBytes;     // 32768
    static constexpr int kGapSlots = kPageBytes / kRecordBytes; // 32
    static constexpr int kCapacity = kSlots - kGapSlots;        // 32736

    // An empty log whose first record will be written to slot `firstSlot`.
    explicit CircularLog(int firstSlot = 0);

    // Stores one record at the end pointer, dropping the oldest ones when the log is full.
    void append(const RecordBytes &record);
    // Encodes and stores `record`.
    void append(const LogRecord &record) { append(encodeLogRecord(record)); }

    // Records that the log up to the end pointer was downloaded and stored.
    void confirmDownload();

    // The start pointer (see the class comment).
    LogAddress startPointer() const;
    // The end pointer: where the next record goes.
    LogAddress endPointer() const;
    // The last-download pointer answered to "since last time".
    LogAddress lastDownloadPointer() const;

    // Records held in the log (erased slots not counted).
    int recordCount() const { return records_; }
    // Slots still free before the meter starts overwriting its oldest records.
    int freeSlots() const { return kCapacity - used_; }

    // `length` bytes of log memory from `offset` bytes into it, continuing round the ring.
    QByteArray read(int offset, int length) const;
    // The byte `offset` bytes into the log memory (taken round the ring).
    char byteAt(int offset) const
    {
        const int at = ((offset % kLogBytes) + kLogBytes) % kLogBytes;
        return pages_.at(at / kPageBytes).at(at % kPageBytes);
    }
    // The eight bytes of slot `slot` (taken round the ring).
    RecordBytes slotBytes(int slot) const;

    // Builds a log holding `records` in order, laid out so that it ends on a page
    // boundary: from the start of memory, or with `wrapped` across the end of memory
    // (end pointer below start pointer). More records than fit keep the newest ones.
    static CircularLog build(const QVector<LogRecord> &records, bool wrapped);

private:
    int startSlot() const;
    static int wrapSlot(int slot);
    static int distance(int from, int to) { return wrapSlot(to - from); }
    void eraseSlot(int slot);
    bool isErasedSlot(int slot) const;
    void writeSlot(int slot, const RecordBytes &record);

    // The log memory in 256-byte pages. Erased pages all share one block of 0xFF, so a
    // short log costs a few pages, not the whole 256 KiB (a thousand simulated meters fit).
    QVector<QByteArray> pages_;
    int oldest_ = 0;        // oldest slot still belonging to the log
    int write_ = 0;         // the end pointer
    int used_ = 0;          // slots from oldest_ to write_
    int records_ = 0;       // non-erased slots among them
    int confirmedSlot_ = 0; // the last-download pointer once a download was confirmed
    bool confirmed_ = false;
};

} // namespace ostrand::sim

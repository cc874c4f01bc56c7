#include "download_engine.h"

#include "download/download_display.h"

// What keeps one meter's log whole across a download that takes its time:
// the records logged meanwhile, a collection's cursor, and the meter on a
// line that was reopened.

namespace ostrand {

DownloadResult DownloadEngine::checkCursor(const LogCursor &cursor)
{
    // The cursor's record lies below the end pointer, at or after the start.
    if (!pointers_.holds(cursor.address)) {
        cursorCheck_ = CursorCheck::OutsideLog;
        // Round the ring from the record after the cursor to the start: slots
        // the meter wrote over (or, after a reset, never wrote) since.
        if (isInLogArea(cursor.address))
            slotsPastCursor_ = logDistance(advancedBy(cursor.address, kLogRecordBytes), pointers_.start) / kLogRecordBytes;
        return DownloadResult::Complete;
    }
    // Unread, the record proves nothing either way; taking the whole log
    // then would store every reading a second time.
    const auto record = readBlock(cursor.address, kLogRecordBytes / 2, kBlockAttempts);
    if (!record) {
        if (!isRefusal(record.error()) && silentBlockReads_ < kSilentBlockReads)
            display_.showDetail(failureText(record.failure()));
        return stopRequested() ? DownloadResult::Stopped : DownloadResult::BlockFailed;
    }
    cursorCheck_ = *record == cursor.record ? CursorCheck::Used : CursorCheck::RecordChanged;
    return DownloadResult::Complete;
}

DownloadResult DownloadEngine::checkSameMeter()
{
    while (link_.serial().openCount() != checkedOpens_) {
        if (stopRequested())
            return DownloadResult::Stopped;
        checkedOpens_ = link_.serial().openCount();
        const auto registers = readPointerRegisters();
        if (!registers) {
            display_.showDetail(
                QStringLiteral("could not read the meter's log pointers after the line was reopened: %1")
                    .arg(failureText(registers.failure())));
            return DownloadResult::PointersUnreadable;
        }
        const LogPointers now = parseLogPointers(*registers, options_.portableMeter);
        Labels labels;
        if (!readChannelLabels(labels))
            return DownloadResult::ChannelLabelsUnreadable;
        // The same meter's log has only grown since: what was its end still
        // lies within it. Every unwrapped log starts at the same address, so
        // the bytes of a block already received are what tell meters apart;
        // slots past the end then may have filled since, and are not compared.
        bool same = labels == meterLabels_ && now.inLogArea() && liesBetween(knownEnd_, now.start, now.end);
        if (same && lastBlock_) {
            const auto again = readBlock(lastBlock_->address, lastBlock_->words, kBlockAttempts);
            if (!again && !isRefusal(again.error())) {
                display_.showDetail(
                    QStringLiteral("could not read the log again after the line was reopened: %1")
                        .arg(failureText(again.failure())));
                return DownloadResult::BlockFailed;
            }
            same = again && again->left(lastBlock_->bytesBelowEnd.size()) == lastBlock_->bytesBelowEnd;
        }
        if (!same) {
            display_.showDetail(QStringLiteral("a different meter answered after the line was reopened"));
            return DownloadResult::DifferentMeter;
        }
    }
    return DownloadResult::Complete;
}

DownloadResult DownloadEngine::catchUp()
{
    for (int pass = 0; pass < kCatchUpPasses; ++pass) {
        if (stopRequested())
            return DownloadResult::Stopped;
        const auto registers = readPointerRegisters();
        // What was read stands; only the meter is left uninformed, so that the
        // next download reads again whatever may lie past it.
        const auto keepWithoutConfirming = [&](const QString &why) {
            withholdConfirmation_ = true;
            display_.showDetail(
                QStringLiteral("%1: the meter is not told of this download, so the next one reads these records again")
                    .arg(why));
            return DownloadResult::Complete;
        };
        if (!registers && stopRequested())
            return DownloadResult::Stopped;
        if (!registers)
            return keepWithoutConfirming(
                QStringLiteral("could not read the log pointers again for what was logged during the download (%1)")
                    .arg(failureText(registers.failure())));
        const LogPointers now = parseLogPointers(*registers, options_.portableMeter);
        if (now.end == knownEnd_)
            return DownloadResult::Complete;
        if (!now.inLogArea() || !liesBetween(knownEnd_, now.start, now.end))
            return keepWithoutConfirming(QStringLiteral("the meter's log pointers moved back during the download"));
        const LogAddress from = knownEnd_;
        const DownloadResult read = readLog(from, now.end, logByteCount(recordBefore(from), now.end), false);
        if (read == DownloadResult::Stopped || read == DownloadResult::DifferentMeter)
            return read;
        if (read != DownloadResult::Complete)
            return keepWithoutConfirming(QStringLiteral("the records logged during the download were not all read"));
        knownEnd_ = now.end;
    }
    return DownloadResult::Complete;
}

} // namespace ostrand

#include "download_engine.h"

#include "download/download_display.h"

#include <utility>

// The end of a download on a meter that keeps logging: what it logged while
// a question was open, and what it counted as downloaded with the confirmation.

namespace ostrand {
namespace {

// The slots from `first` through `last`, as the messages name them.
QString slotsText(const LogAddress &first, const LogAddress &last)
{
    const int count = logDistance(first, last) / kLogRecordBytes + 1;
    return count == 1 ? QStringLiteral("the record at %1").arg(logAddressText(first))
                      : QStringLiteral("the %1 records from %2 through %3")
                            .arg(count)
                            .arg(logAddressText(first), logAddressText(last));
}

} // namespace

DownloadResult DownloadEngine::readLoggedMeanwhile()
{
    if (!operation_)
        return DownloadResult::Complete;
    const DownloadResult result = catchUp();
    if (result != DownloadResult::Complete)
        operation_.reset();
    return result;
}

ConfirmedTail DownloadEngine::confirmDownloadAndReadTail()
{
    if (!operation_)
        return {};
    ConfirmedTail tail;
    if (const Confirmation confirmation = sendConfirmation(); confirmation != Confirmation::NotSent) {
        // Past the confirmation a Stop would leave the meter counting records
        // that no file holds: the few exchanges left run to their end.
        const std::atomic<bool> *stop = std::exchange(options_.stopRequested, nullptr);
        tail = readConfirmedTail(confirmation);
        options_.stopRequested = stop;
    }
    operation_.reset();
    return tail;
}

ConfirmedTail DownloadEngine::readConfirmedTail(Confirmation confirmation)
{
    const LogAddress lastRead = recordBefore(knownEnd_);
    const auto unread = [&](const QString &why, const QString &records) {
        display_.showDetail(why);
        return ConfirmedTail{ConfirmedTail::Outcome::Unread, records};
    };
    const QString sinceLastRead =
        QStringLiteral("the records logged after %1 (the last slot read) until the confirmation")
            .arg(logAddressText(lastRead));
    // Without the marker: a meter that acknowledged counts those records as
    // downloaded; one that did not may never have had the confirmation.
    const auto markerUnknown = [&](const QString &why) {
        if (confirmation == Confirmation::Acknowledged)
            return unread(why, sinceLastRead);
        display_.showDetail(QStringLiteral("%1; if the meter took the confirmation, it counts %2 as downloaded: "
                                           "\"Download Data\" reads them again")
                                .arg(why, sinceLastRead));
        return ConfirmedTail{};
    };

    // The confirmation's reply may still be coming in, and the meter is
    // given that moment to set its marker.
    link_.serial().awaitInterFrameGap();
    const auto pointer = link_.readLastDownloadPointer(options_.slave);
    if (!pointer && isRefusal(pointer.error()))
        return {}; // a meter without the marker has nothing it could skip
    if (!pointer)
        return markerUnknown(QStringLiteral("could not read where the meter's last download now ends: %1")
                                 .arg(failureText(pointer.failure())));
    const QByteArray &p = *pointer;
    const LogAddress marker{static_cast<quint8>(p.at(0)), static_cast<quint8>(p.at(1)),
                            static_cast<quint8>(p.at(2))};
    const auto registers = readPointerRegisters();
    if (!registers)
        return markerUnknown(QStringLiteral("could not read the meter's log pointers after the confirmation: %1")
                                 .arg(failureText(registers.failure())));
    // A reopen on the way: the marker and pointers are trusted only from the same meter.
    if (checkSameMeter() != DownloadResult::Complete)
        return markerUnknown(QStringLiteral("the meter's marker could not be checked after the line was reopened"));

    const LogPointers now = parseLogPointers(*registers, options_.portableMeter);
    // A taken confirmation leaves the marker at the last record read or past
    // it, but not past the meter's end; anywhere else it is the old one.
    const LogAddress taken = lastRecord_.isSet() ? lastRecord_.address : lastRead;
    if (!isInLogArea(marker) || !now.inLogArea() || !liesBetween(marker, taken, now.end)) {
        display_.showDetail(QStringLiteral("the meter did not take the confirmation: its last-download marker "
                                           "stands at %1, not at or after %2, the last record read; the next "
                                           "Since Last Time reads from the record after %1")
                                .arg(logAddressText(marker), logAddressText(taken)));
        return {};
    }
    if (!liesBetween(marker, knownEnd_, now.end))
        return {}; // at a record already read: nothing went past the download
    const QString records = slotsText(knownEnd_, marker);
    const LogAddress through = advancedBy(marker, kLogRecordBytes);
    const DownloadResult read = readLog(knownEnd_, through, logByteCount(lastRead, through), false);
    if (read != DownloadResult::Complete)
        return unread(QStringLiteral("could not read the records the meter counted as downloaded with the "
                                     "confirmation (%1)")
                          .arg(records),
                      records);
    knownEnd_ = through;
    return {ConfirmedTail::Outcome::Read, records};
}

} // namespace ostrand

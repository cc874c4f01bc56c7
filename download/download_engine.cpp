#include "download_engine.h"

#include "download/download_display.h"
#include "download/log_decoder.h"
#include "download/progress_text.h"
#include "download/time_left.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "table/channel_name.h"
#include "table/grid_headings.h"
#include "table/results_grid.h"

#include <algorithm>
#include <cmath>

namespace ostrand {
namespace {

constexpr int kChannelSetupBank = 0x18;
constexpr int kChannelSetupWords = 100;
constexpr int kLabelOffset = 64; // characters 65 to 96 of the setup block
constexpr int kLabelLength = 32;
constexpr int kBlockBytes = 256;

} // namespace

int wordsForBytes(int bytes)
{
    return static_cast<int>(std::nearbyint(bytes / 2.0));
}

DownloadEngine::DownloadEngine(MeterLink &link, ResultsGrid &grid, GridState &state, DownloadDisplay &display)
    : link_(link), grid_(grid), state_(state), display_(display)
{
    outerWatcher_ = link_.setReplyWaitWatcher([this](const std::optional<ReplyWait> &wait) {
        if (!wait) {
            display_.setWaiting(QString());
            return;
        }
        ReplyWait shown = *wait;
        if (triesLeft_ > 0) {
            const double before = std::round((tryStartMs_ - blockStartMs_) / 1000.0);
            shown.silentSeconds += static_cast<int>(before);
            shown.giveUpSeconds = before + triesLeft_ * wait->giveUpSeconds;
        }
        display_.setWaiting(replyWaitText(shown));
    });
}

DownloadEngine::~DownloadEngine()
{
    link_.setReplyWaitWatcher(std::move(outerWatcher_));
}

void DownloadEngine::yield()
{
    link_.serial().yield();
}

QString DownloadEngine::failureText(const LinkFailure &failure)
{
    return ostrand::failureText(failure, QStringLiteral("the download"));
}

DownloadResult DownloadEngine::readStartPointers(LogAddress &readFrom, LogAddress &countFrom)
{
    const auto unreadable = [&] { return stopRequested() ? DownloadResult::Stopped : DownloadResult::PointersUnreadable; };
    if (options_.sinceLastTime && !options_.resumeAfter) {
        // Without the pointer there is no start: reading from address zero
        // would download memory that is not log at all.
        display_.setStep(QStringLiteral("Reading where the last download ended"));
        const auto pointer = link_.readLastDownloadPointer(options_.slave);
        if (!pointer) {
            display_.showDetail(failureText(pointer.failure()));
            return unreadable();
        }
        const QByteArray &p = *pointer;
        // Reading starts at the record after the pointer, but the byte count
        // runs from the pointer itself: a meter with nothing new since its
        // last confirmed download then has pointer and end equal.
        countFrom = LogAddress{static_cast<quint8>(p.at(0)), static_cast<quint8>(p.at(1)),
                               static_cast<quint8>(p.at(2))};
        readFrom = advancedBy(countFrom, kLogRecordBytes);
        if (!isInLogArea(countFrom))
            return DownloadResult::PointersUnreadable;
    }
    if (stopRequested())
        return DownloadResult::Stopped;
    display_.setStep(QStringLiteral("Reading the log's pointers"));
    const auto registers = readPointerRegisters();
    if (!registers) {
        display_.showDetail(failureText(registers.failure()));
        return unreadable();
    }
    pointers_ = parseLogPointers(*registers, options_.portableMeter);
    if (!pointers_.inLogArea())
        return DownloadResult::PointersUnreadable;
    knownEnd_ = pointers_.end;
    if (options_.resumeAfter && options_.otherResumeAfter)
        options_.resumeAfter = earlierCursor(*options_.resumeAfter, *options_.otherResumeAfter, pointers_);
    if (options_.resumeAfter) {
        const DownloadResult checked = checkCursor(*options_.resumeAfter);
        if (checked != DownloadResult::Complete)
            return checked;
    }
    if (cursorCheck_ == CursorCheck::Used) {
        countFrom = options_.resumeAfter->address;
        readFrom = advancedBy(countFrom, kLogRecordBytes);
        lastRecord_ = *options_.resumeAfter;
        if (readFrom == knownEnd_)
            return DownloadResult::NoRecords;
    } else if (!options_.sinceLastTime || options_.resumeAfter) {
        readFrom = pointers_.start;
        countFrom = readFrom;
    }
    return stopRequested() ? DownloadResult::Stopped : DownloadResult::Complete;
}

DownloadResult DownloadEngine::downloadLog(const DownloadOptions &options)
{
    // One operation: a slow path learnt on the first exchanges holds for the
    // rest, and so does the device the first exchange opened.
    operation_.reset();
    operation_.emplace(link_);
    options_ = options;
    lastBlock_.reset();
    lastRecord_ = {};
    cursorCheck_ = CursorCheck::NotGiven;
    slotsPastCursor_ = 0;
    blockAnswered_ = false;
    silentBlockReads_ = 0;
    withholdConfirmation_ = false;
    // The grid comes cleared, so no heading stands until this download's labels are taken.
    clearChannelLabels(state_.channels);
    const DownloadResult result = [&] {
        display_.setTimeLeft(QString());
        display_.setProgress(0);
        LogAddress readFrom;
        LogAddress countFrom;
        if (const DownloadResult started = readStartPointers(readFrom, countFrom);
            started != DownloadResult::Complete)
            return started;
        // Opens before this point belong to the start; a later one means the line
        // went away and came back, perhaps with another meter on it.
        checkedOpens_ = link_.serial().openCount();

        const std::int32_t byteCount = logByteCount(countFrom, knownEnd_);
        if (byteCount == 0)
            return DownloadResult::NoRecords;

        display_.setRecordsUsed(pointers_.recordsUsedText());
        display_.setRecordsAvailable(pointers_.recordsAvailableText());
        yield();

        for (int k = 1; k <= kChannelCount; ++k)
            display_.setChannelLabel(k, QString());
        setUpGridHeadings(grid_);
        state_.lastGridRow = 1;
        state_.lastRowStamp = RowStamp{};

        meterLabels_ = {};
        if (!readChannelLabels(meterLabels_))
            return stopRequested() ? DownloadResult::Stopped : DownloadResult::ChannelLabelsUnreadable;
        // Labels read across a reopen may come from two meters: they are checked
        // before they become the file's headings.
        if (const DownloadResult same = checkSameMeter(); same != DownloadResult::Complete)
            return same;
        takeChannelLabels(meterLabels_);
        setUpChannelHeadings(grid_, state_);
        yield();

        display_.setStatus(options_.sinceLastTime ? QStringLiteral("Since Last Time Download")
                                                  : QStringLiteral("All Data Download"));
        display_.setStep(QString());
        const DownloadResult read = readLog(readFrom, knownEnd_, byteCount, true);
        return read == DownloadResult::Complete ? catchUp() : read;
    }();
    if (result != DownloadResult::Complete)
        operation_.reset();
    return result;
}

bool DownloadEngine::readChannelLabels(Labels &labels)
{
    std::array<bool, kChannelCount> read{};
    int unread = kChannelCount;
    int fruitless = 0;
    LinkFailure lastFailure;
    while (unread > 0) {
        bool progress = false;
        for (int k = 1; k <= kChannelCount; ++k) {
            if (read[k - 1])
                continue;
            if (stopRequested())
                return false;
            display_.setStep(labelStepText(k, kChannelCount));
            const auto setup = readBlock(LogAddress{kChannelSetupBank, 0x80 + k, 0x00}, kChannelSetupWords, 1);
            if (!setup && (isRefusal(setup.error()) || silentBlockReads_ >= kSilentBlockReads))
                return false;
            if (!setup) {
                lastFailure = setup.failure();
                continue;
            }
            read[k - 1] = true;
            --unread;
            progress = true;
            labels[k - 1] = cleanChannelName(setup->mid(kLabelOffset, kLabelLength));
        }
        yield();
        fruitless = progress ? 0 : fruitless + 1;
        if (fruitless >= kFruitlessLabelPasses) {
            display_.showDetail(failureText(lastFailure));
            return false;
        }
    }
    return true;
}

Result<QByteArray> DownloadEngine::readPointerRegisters()
{
    return link_.readHoldingRegisters(options_.slave, kPointerRegister, kPointerRegisterCount);
}

Result<QByteArray> DownloadEngine::readBlock(const LogAddress &address, int words, int attempts)
{
    // Once the meter is known not to do block reads, none is sent again.
    if (!blockAnswered_ && silentBlockReads_ >= kSilentBlockReads)
        return LinkError::TimedOut;
    Result<QByteArray> reply = LinkError::TimedOut;
    // A refusal is the meter's final word on this block: no more attempts.
    const Clock &clock = link_.serial().clock();
    blockStartMs_ = clock.monotonicMs();
    for (int attempt = 0; attempt < attempts && !reply && !isRefusal(reply.error()); ++attempt) {
        if (stopRequested())
            return LinkError::TimedOut;
        tryStartMs_ = clock.monotonicMs();
        triesLeft_ = attempts > 1 ? attempts - attempt : 0;
        reply = link_.readLogBlock(options_.slave, address.bank, address.page, address.offset, words);
        triesLeft_ = 0;
        const bool silent = !reply && reply.error() == LinkError::TimedOut
                            && link_.serial().lastByteMs() == SerialLink::kNoByte;
        if (!silent) {
            blockAnswered_ = true;
            silentBlockReads_ = 0;
            continue;
        }
        // A slave that frames requests by their length cannot frame this
        // function and never answers it: waiting through every label pass and
        // block attempt for it would keep the user for minutes.
        if (!blockAnswered_ && ++silentBlockReads_ >= kSilentBlockReads) {
            display_.showDetail(
                QStringLiteral("the meter answered the pointer read and then nothing: %1 block reads "
                               "(function 0x60) in a row brought no reply; does this meter take block reads?")
                    .arg(silentBlockReads_));
            return reply;
        }
    }
    if (!reply && isRefusal(reply.error()))
        display_.showDetail(failureText(reply.failure()));
    return reply;
}

void DownloadEngine::takeChannelLabels(const Labels &labels)
{
    for (int k = 1; k <= kChannelCount; ++k) {
        // An empty label leaves the channel's flags as an earlier download set them.
        if (state_.channel(k).takeMeterLabel(labels[k - 1]))
            display_.setChannelLabel(k, labels[k - 1]);
    }
}

DownloadEngine::Confirmation DownloadEngine::sendConfirmation()
{
    if (withholdConfirmation_)
        return Confirmation::NotSent;
    // Opening is all the confirmation's own exchange would do first; done
    // here, a reopen is seen before the meter on the line is told anything.
    link_.serial().openPort();
    if (checkSameMeter() != DownloadResult::Complete)
        return Confirmation::NotSent;
    if (const auto confirmed = link_.confirmDownload(options_.slave); !confirmed) {
        display_.showDetail(QStringLiteral("the meter did not acknowledge the download confirmation: %1")
                                .arg(failureText(confirmed.failure())));
        return Confirmation::Unacknowledged;
    }
    return Confirmation::Acknowledged;
}

void DownloadEngine::confirmDownload()
{
    if (!operation_)
        return;
    sendConfirmation();
    operation_.reset();
}

void DownloadEngine::noteLastRecord(const LogAddress &blockAddress, const QByteArray &bytes)
{
    for (qsizetype at = bytes.size() / kLogRecordBytes * kLogRecordBytes - kLogRecordBytes; at >= 0; at -= kLogRecordBytes) {
        if (isWrittenRecord(bytes.constData() + at)) {
            LogAddress address = blockAddress;
            for (qsizetype step = 0; step < at; step += kLogRecordBytes)
                address = advancedBy(address, kLogRecordBytes);
            lastRecord_ = LogCursor{address, bytes.mid(at, kLogRecordBytes)};
            return;
        }
    }
}

DownloadResult DownloadEngine::readLog(LogAddress address, const LogAddress &end, std::int32_t byteCount,
                                       bool showProgress)
{
    int size = byteCount <= kBlockBytes ? byteCount : kBlockBytes;
    // The grid is not redrawn while blocks are decoded; it is painted once at the end.
    ResultsGrid::BulkUpdate quietGrid(grid_);
    yield();

    // Only the records before the end pointer belong to this read: the slots
    // past it fill while a meter keeps logging, and are read by the next pass.
    const std::int32_t bytesBelowEnd = logDistance(address, end);
    std::int32_t offsetFromStart = 0;
    DownloadResult result = DownloadResult::Complete;
    std::int32_t done = 0;
    int recordsLeftOut = 0;
    TimeLeftEstimate timeLeft;
    const Clock &clock = link_.serial().clock();
    for (;;) {
        yield();
        const int words = wordsForBytes(size);
        const auto reply = readBlock(address, words, kBlockAttempts);
        if (stopRequested())
            return DownloadResult::Stopped;
        const bool read = reply.ok();
        if (!read) {
            result = DownloadResult::BlockFailed;
            if (!isRefusal(reply.error()) && silentBlockReads_ < kSilentBlockReads)
                display_.showDetail(failureText(reply.failure()));
        }
        if (showProgress) {
            if (read) {
                timeLeft.blockRead(clock.monotonicMs() / 1000.0, std::min(done + size, byteCount) / double(byteCount));
                display_.setTimeLeft(timeLeftText(timeLeft.secondsLeft()));
            }
            display_.setProgress(static_cast<int>(std::floor(done * 100.0 / byteCount)));
        }
        if (!read)
            break;
        // A block that came over a reopened line is decoded only once the
        // meter that sent it is known to be the one the download began with.
        const QByteArray block = reply->left(std::clamp<std::int32_t>(bytesBelowEnd - offsetFromStart, 0,
                                                                      static_cast<std::int32_t>(reply->size())));
        result = checkSameMeter();
        if (result != DownloadResult::Complete)
            break;
        decodeLogBlock(block, grid_, state_, &recordsLeftOut);
        noteLastRecord(address, block);
        lastBlock_ = BlockCopy{address, words, block};

        if (done + kBlockBytes <= byteCount) {
            done += kBlockBytes;
            ++address.page;
            offsetFromStart += kBlockBytes;
        } else {
            if (size < kBlockBytes)
                break;
            size = byteCount - done;
            if (size == 0)
                break;
            done += size;
            offsetFromStart += size;
            address.offset += size;
            if (address.offset > 255) {
                ++address.page;
                address.offset -= 256;
            }
        }
        wrapLogPage(address);
        if (address == end)
            break;
    }
    if (result == DownloadResult::Complete && recordsLeftOut > 0)
        display_.showDetail(QStringLiteral("%1 records past the grid's last row were not stored").arg(recordsLeftOut));
    return result;
}

} // namespace ostrand

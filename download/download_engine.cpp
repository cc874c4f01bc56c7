#include "download_engine.h"

#include "download/download_display.h"
#include "download/grid_headings.h"
#include "download/log_decoder.h"
#include "download/channel_name.h"
#include "download/meter_float.h"
#include "download/results_grid.h"
#include "link/meter_link.h"

#include <cmath>

namespace ostrand {
namespace {

constexpr int kPointerRegister = 76;
constexpr int kPointerRegisterCount = 8;
constexpr int kChannelSetupBank = 0x18;
constexpr int kChannelSetupWords = 100;
constexpr int kLabelOffset = 64; // characters 65 to 96 of the setup block
constexpr int kLabelLength = 32;
constexpr int kBlockBytes = 256;

quint8 at(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? static_cast<quint8>(bytes[index]) : 0;
}

QString countText(const QByteArray &bytes, int first)
{
    const double value = decodeMeterFloat(at(bytes, first), at(bytes, first + 1), at(bytes, first + 2),
                                          at(bytes, first + 3));
    if (value > 65536 || value < -65536)
        return QStringLiteral("Error");
    return QString::number(static_cast<qint64>(std::floor(value)));
}

LogAddress startPointerIn(const QByteArray &registers, bool portable)
{
    // The portable meter puts everything one byte earlier.
    const int shift = portable ? 0 : 1;
    return LogAddress{at(registers, shift), at(registers, shift + 1), at(registers, shift + 2)};
}

} // namespace

int wordsForBytes(int bytes)
{
    return static_cast<int>(std::nearbyint(bytes / 2.0));
}

DownloadEngine::DownloadEngine(MeterLink &link, ResultsGrid &grid, GridState &state, DownloadDisplay &display)
    : link_(link), grid_(grid), state_(state), display_(display)
{
}

void DownloadEngine::yield()
{
    link_.serial().yield();
}

bool DownloadEngine::readPointers(const DownloadOptions &options, LogAddress &start, LogAddress &countFrom,
                                  LogAddress &end)
{
    if (options.sinceLastTime) {
        // Without the pointer there is no start: reading from address zero
        // would download memory that is not log at all.
        const auto pointer = link_.readLastDownloadPointer(options.slave);
        if (!pointer) {
            display_.showDetail(link_.failureText(pointer.error()));
            return false;
        }
        const QByteArray &p = *pointer;
        // Reading starts at the record after the pointer, but the byte count
        // runs from the pointer itself: a meter with nothing new since its
        // last confirmed download then has pointer and end equal.
        countFrom = LogAddress{at(p, 0), at(p, 1), at(p, 2)};
        start = advancedBy(countFrom, 8);
    }
    if (stopRequested())
        return false;
    const auto registers = link_.readHoldingRegisters(options.slave, kPointerRegister, kPointerRegisterCount);
    if (!registers) {
        display_.showDetail(link_.failureText(registers.error()));
        return false;
    }

    pointerRegisters_ = *registers;
    const QByteArray &d = pointerRegisters_;
    meterStart_ = startPointerIn(d, options.portableMeter);
    if (!options.sinceLastTime) {
        start = meterStart_;
        countFrom = start;
    }
    const int shift = options.portableMeter ? 0 : 1;
    end = LogAddress{at(d, shift + 4), at(d, shift + 5), at(d, shift + 6)};
    // Pointers outside the log (a wrong layout chosen, a garbled reply that
    // passed its CRC) would send the reads through unrelated memory.
    return isInLogArea(start) && isInLogArea(countFrom) && isInLogArea(end);
}

DownloadResult DownloadEngine::downloadLog(const DownloadOptions &options)
{
    // One operation: a slow path learnt on the first exchanges holds for the rest.
    const MeterLink::Hold hold(link_);
    options_ = options;
    display_.setProgress(0);
    LogAddress start;
    LogAddress countFrom;
    LogAddress end;
    if (!readPointers(options, start, countFrom, end))
        return stopRequested() ? DownloadResult::Stopped : DownloadResult::PointersUnreadable;
    if (stopRequested())
        return DownloadResult::Stopped;
    // Opens before this point belong to the start; a later one means the line
    // went away and came back, perhaps with another meter on it.
    checkedOpens_ = link_.serial().openCount();

    const std::int32_t byteCount = logByteCount(countFrom, end);
    if (byteCount == 0)
        return DownloadResult::NoRecords;

    const QByteArray &d = pointerRegisters_;
    const int shift = options.portableMeter ? 0 : 1;
    display_.setRecordsUsed(countText(d, shift + 7));
    display_.setRecordsAvailable(countText(d, shift + 11));
    yield();

    for (int k = 1; k <= 8; ++k)
        display_.setChannelLabel(k, QString());
    labels_ = {};
    setUpGridHeadings(grid_);
    state_.lastGridRow = 1;
    state_.lastRowStamp = RowStamp{};

    meterLabels_ = {};
    if (!readChannelLabels(options.slave, meterLabels_))
        return stopRequested() ? DownloadResult::Stopped : DownloadResult::ChannelLabelsUnreadable;
    // Labels read across a reopen may come from two meters: they are checked
    // before they become the file's headings.
    if (const DownloadResult same = checkSameMeter(); same != DownloadResult::Complete)
        return same;
    takeChannelLabels(meterLabels_);
    setUpChannelHeadings(grid_, state_, labels_);
    yield();

    display_.setStatus(options.sinceLastTime ? QStringLiteral("Since Last Time Download")
                                             : QStringLiteral("All Data Download"));
    return readLog(options.slave, start, end, byteCount);
}

bool DownloadEngine::readChannelLabels(int slave, Labels &labels)
{
    std::array<bool, 9> read{};
    int unread = 8;
    int fruitless = 0;
    LinkError lastFailure = LinkError::TimedOut;
    while (unread > 0) {
        bool progress = false;
        for (int k = 1; k <= 8; ++k) {
            if (read[k])
                continue;
            if (stopRequested())
                return false;
            const auto setup = link_.readLogBlock(slave, kChannelSetupBank, 0x80 + k, 0x00, kChannelSetupWords);
            if (!setup && isRefusal(setup.error())) {
                display_.showDetail(link_.failureText(setup.error()));
                return false;
            }
            if (!setup) {
                lastFailure = setup.error();
                continue;
            }
            read[k] = true;
            --unread;
            progress = true;
            labels[k] = cleanChannelName(setup->mid(kLabelOffset, kLabelLength));
        }
        yield();
        fruitless = progress ? 0 : fruitless + 1;
        if (fruitless >= kFruitlessLabelPasses) {
            display_.showDetail(link_.failureText(lastFailure));
            return false;
        }
    }
    return true;
}

void DownloadEngine::takeChannelLabels(const Labels &labels)
{
    for (int k = 1; k <= 8; ++k) {
        const QString &label = labels[k];
        if (label == QLatin1String("Not Used")) {
            state_.channelInUse[k] = false;
        } else if (!label.isEmpty()) {
            // An empty label leaves the channel's flags as an earlier download set them.
            state_.channelInUse[k] = true;
            state_.channelIsTotal[k - 1] = label.contains(QLatin1String("Tot"));
            labels_[k] = label;
            display_.setChannelLabel(k, label);
        }
    }
}

DownloadResult DownloadEngine::checkSameMeter()
{
    while (link_.serial().openCount() != checkedOpens_) {
        if (stopRequested())
            return DownloadResult::Stopped;
        checkedOpens_ = link_.serial().openCount();
        const auto registers = link_.readHoldingRegisters(options_.slave, kPointerRegister, kPointerRegisterCount);
        if (!registers) {
            display_.showDetail(
                QStringLiteral(
                    "could not read the meter's log pointers after the line was reopened: %1")
                    .arg(link_.failureText(registers.error())));
            return DownloadResult::PointersUnreadable;
        }
        const LogAddress start = startPointerIn(*registers, options_.portableMeter);
        Labels labels;
        if (!readChannelLabels(options_.slave, labels))
            return DownloadResult::ChannelLabelsUnreadable;
        if (!(start == meterStart_) || labels != meterLabels_) {
            display_.showDetail(
                QStringLiteral("a different meter answered after the line was reopened"));
            return DownloadResult::DifferentMeter;
        }
    }
    return DownloadResult::Complete;
}

void DownloadEngine::confirmDownload()
{
    // Opening is all the confirmation's own exchange would do first; done here,
    // a reopen is seen before the meter on the line is told anything.
    link_.serial().openPort();
    if (checkSameMeter() != DownloadResult::Complete)
        return;
    if (const auto confirmed = link_.confirmDownload(options_.slave); !confirmed)
        display_.showDetail(
            QStringLiteral("the meter did not acknowledge the download confirmation: %1")
                .arg(link_.failureText(confirmed.error())));
}

DownloadResult DownloadEngine::readLog(int slave, LogAddress address, const LogAddress &end, std::int32_t byteCount)
{
    int size = byteCount <= kBlockBytes ? byteCount : kBlockBytes;
    // The grid is not redrawn while blocks are decoded; it is painted once at the end.
    ResultsGrid::BulkUpdate quietGrid(grid_);
    yield();

    DownloadResult result = DownloadResult::Complete;
    std::int32_t done = 0;
    int recordsLeftOut = 0;
    for (;;) {
        yield();
        const int words = wordsForBytes(size);
        Result<QByteArray> reply = LinkError::TimedOut;
        // A refusal is the meter's final word on this block: no more attempts.
        for (int attempt = 0; attempt < kBlockAttempts && !reply && !isRefusal(reply.error()); ++attempt) {
            if (stopRequested())
                return DownloadResult::Stopped;
            reply = link_.readLogBlock(slave, address.bank, address.page, address.offset, words);
        }
        const bool read = reply.ok();
        if (!read) {
            result = DownloadResult::BlockFailed;
            display_.showDetail(link_.failureText(reply.error()));
        }
        display_.setProgress(static_cast<int>(std::floor(done * 100.0 / byteCount)));
        if (!read)
            break;
        // A block that came over a reopened line is decoded only once the
        // meter that sent it is known to be the one the download began with.
        const QByteArray block = *reply;
        result = checkSameMeter();
        if (result != DownloadResult::Complete)
            break;
        decodeLogBlock(block, grid_, state_, &recordsLeftOut);

        if (done + kBlockBytes <= byteCount) {
            done += kBlockBytes;
            ++address.page;
        } else {
            if (size < kBlockBytes)
                break;
            size = byteCount - done;
            if (size == 0)
                break;
            done += size;
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
        display_.showDetail(QStringLiteral("%1 records past the grid's last row were not stored")
                                .arg(recordsLeftOut));
    return result;
}

} // namespace ostrand

#include "download_engine.h"

#include "download/download_display.h"
#include "download/grid_headings.h"
#include "download/log_decoder.h"
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
    const double value = DecodeMeterFloat(at(bytes, first), at(bytes, first + 1), at(bytes, first + 2),
                                          at(bytes, first + 3));
    if (value > 65536 || value < -65536)
        return QStringLiteral("Error");
    return QString::number(static_cast<qint64>(std::floor(value)));
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
        if (!link_.ReadLastDownloadPointer(options.slave))
            return false;
        const QByteArray &p = link_.LastDownloadPointer;
        // Reading starts at the record after the pointer, but the byte count
        // runs from the pointer itself: a meter with nothing new since its
        // last confirmed download then has pointer and end equal.
        countFrom = LogAddress{at(p, 0), at(p, 1), at(p, 2)};
        start = advancedBy(countFrom, 8);
    }
    if (!link_.ReadHoldingRegisters(options.slave, 0, kPointerRegister, kPointerRegisterCount))
        return false;

    // The portable meter puts everything one byte earlier.
    const QByteArray &d = link_.ReplyData;
    const int shift = options.portableMeter ? 0 : 1;
    if (!options.sinceLastTime) {
        start = LogAddress{at(d, shift), at(d, shift + 1), at(d, shift + 2)};
        countFrom = start;
    }
    end = LogAddress{at(d, shift + 4), at(d, shift + 5), at(d, shift + 6)};
    // Pointers outside the log (a wrong layout chosen, a garbled reply that
    // passed its CRC) would send the reads through unrelated memory.
    return isInLogArea(start) && isInLogArea(countFrom) && isInLogArea(end);
}

qint16 DownloadEngine::DownloadLog(const DownloadOptions &options)
{
    display_.setProgress(0);
    LogAddress start;
    LogAddress countFrom;
    LogAddress end;
    if (!readPointers(options, start, countFrom, end))
        return download_result::kPointersUnreadable;

    const std::int32_t byteCount = logByteCount(countFrom, end);
    if (byteCount == 0)
        return download_result::kNoRecords;

    const QByteArray &d = link_.ReplyData;
    const int shift = options.portableMeter ? 0 : 1;
    display_.setRecordsUsed(countText(d, shift + 7));
    display_.setRecordsAvailable(countText(d, shift + 11));
    yield();

    for (int k = 1; k <= 8; ++k)
        display_.setChannelLabel(k, QString());
    labels_ = {};
    SetUpGridHeadings(grid_);
    state_.LastGridRow = 1;
    state_.LastRowStamp = RowStamp{};

    if (!readChannelLabels(options.slave))
        return download_result::kChannelLabelsUnreadable;
    SetUpChannelHeadings(grid_, state_, labels_);
    yield();

    display_.setStatus(options.sinceLastTime ? QStringLiteral("Since Last Time Download")
                                             : QStringLiteral("All Data Download"));
    return readLog(options.slave, start, end, byteCount);
}

bool DownloadEngine::readChannelLabels(int slave)
{
    std::array<bool, 9> read{};
    int unread = 8;
    int fruitless = 0;
    while (unread > 0) {
        bool progress = false;
        for (int k = 1; k <= 8; ++k) {
            if (read[k] || !link_.ReadLogBlock(slave, kChannelSetupBank, 0x80 + k, 0x00, kChannelSetupWords))
                continue;
            read[k] = true;
            --unread;
            progress = true;
            const QString label = CleanChannelName(link_.ReplyData.mid(kLabelOffset, kLabelLength));
            if (label == QLatin1String("Not Used")) {
                state_.ChannelInUse[k] = false;
            } else if (!label.isEmpty()) {
                // An empty label leaves the channel's flags as an earlier download set them.
                state_.ChannelInUse[k] = true;
                state_.ChannelIsTotal[k - 1] = label.contains(QLatin1String("Tot"));
                labels_[k] = label;
                display_.setChannelLabel(k, label);
            }
        }
        yield();
        fruitless = progress ? 0 : fruitless + 1;
        if (fruitless >= kFruitlessLabelPasses)
            return false;
    }
    return true;
}

qint16 DownloadEngine::readLog(int slave, LogAddress address, const LogAddress &end, std::int32_t byteCount)
{
    int size = byteCount <= kBlockBytes ? byteCount : kBlockBytes;
    // The grid is not redrawn while blocks are decoded; it is painted once at the end.
    ResultsGrid::BulkUpdate quietGrid(grid_);
    yield();

    qint16 result = download_result::kComplete;
    std::int32_t done = 0;
    for (;;) {
        yield();
        const int words = wordsForBytes(size);
        bool read = false;
        for (int attempt = 0; attempt < kBlockAttempts && !read; ++attempt)
            read = link_.ReadLogBlock(slave, address.bank, address.page, address.offset, words);
        if (!read)
            result = download_result::kBlockFailed;
        display_.setProgress(static_cast<int>(std::floor(done * 100.0 / byteCount)));
        if (!read)
            break;
        DecodeLogBlock(link_.ReplyData, grid_, state_);

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
    return result;
}

} // namespace ostrand

#include "fault_policy.h"

namespace ostrand::sim {

namespace {

// The block read that the mid-download drop cuts short, counted from the pointer read.
constexpr int kBlockToCut = 3;

bool covers(const LogAddress &from, int length, const LogAddress &target)
{
    const int fromOffset = logOffsetOf(from);
    const int targetOffset = logOffsetOf(target);
    if (fromOffset >= 0 && targetOffset >= 0) {
        const int ahead = ((targetOffset - fromOffset) % kLogBytes + kLogBytes) % kLogBytes;
        return ahead < length;
    }
    const qint64 ahead = qint64(linearValue(target)) - qint64(linearValue(from));
    return ahead >= 0 && ahead < length;
}

} // namespace

FaultPolicy::FaultPolicy(FaultSettings settings) : settings_(std::move(settings))
{
    if (settings_.corruptEvery < 1)
        settings_.corruptEvery = 1;
}

bool FaultPolicy::hitsDeadBlock(const Reply &reply) const
{
    if (reply.blockLength <= 0)
        return false;
    for (const LogAddress &dead : settings_.deadBlocks) {
        if (covers(reply.blockAddress, reply.blockLength, dead))
            return true;
    }
    return false;
}

FaultOutcome FaultPolicy::apply(const Reply &reply)
{
    FaultOutcome out;
    if (reply.pointerRead) {
        downloading_ = true;
        logBlocksSincePointers_ = 0;
    }
    if (reply.bytes.isEmpty())
        return out;
    if (settings_.silent) {
        out.note = QStringLiteral("silent: reply withheld");
        return out;
    }
    if (hitsDeadBlock(reply)) {
        out.note = QStringLiteral("dead block %1: reply withheld").arg(toText(reply.blockAddress));
        return out;
    }

    if (reply.confirmed && settings_.dropBeforeConfirmReply) {
        out.bytes = reply.bytes;
        out.dropAfter = 0;
        out.note = QStringLiteral("line drops before the confirmation's reply");
        return out;
    }

    out.bytes = reply.bytes;
    ++repliesSent_;
    // The same request asked again gets the same reply, this time whole.
    const bool spoilOnce = settings_.corruptOnce && !spoiledOnce_.contains(reply.bytes);
    if (spoilOnce)
        spoiledOnce_.insert(reply.bytes);
    if (spoilOnce || (settings_.corruptCrc && repliesSent_ % settings_.corruptEvery == 0)) {
        out.bytes[out.bytes.size() - 1] = static_cast<char>(out.bytes.back() ^ 0x01);
        out.note = QStringLiteral("CRC spoiled");
    }

    if (downloading_ && reply.logBlock && ++logBlocksSincePointers_ == kBlockToCut &&
        settings_.dropMidDownload && !droppedMidDownload_) {
        droppedMidDownload_ = true;
        out.dropAfter = int(out.bytes.size()) / 2;
        out.note = QStringLiteral("line drops mid-download after %1 bytes").arg(out.dropAfter);
    }
    if (settings_.dropAfterBytes >= 0 && !droppedAfterBytes_ &&
        bytesSent_ + out.bytes.size() >= settings_.dropAfterBytes) {
        droppedAfterBytes_ = true;
        const int cut = int(settings_.dropAfterBytes - bytesSent_);
        if (out.dropAfter < 0 || cut < out.dropAfter)
            out.dropAfter = cut;
        out.note =
            QStringLiteral("line drops after %1 reply bytes in all").arg(settings_.dropAfterBytes);
    }
    if (settings_.dropEachLineAfter >= 0 && !droppedThisLine_ &&
        lineBytesSent_ + out.bytes.size() >= settings_.dropEachLineAfter) {
        droppedThisLine_ = true;
        const int cut = int(settings_.dropEachLineAfter - lineBytesSent_);
        if (out.dropAfter < 0 || cut < out.dropAfter)
            out.dropAfter = cut;
        out.note = QStringLiteral("line drops after %1 reply bytes on it")
                       .arg(settings_.dropEachLineAfter);
    }
    const qint64 sent = out.dropAfter >= 0 ? out.dropAfter : out.bytes.size();
    bytesSent_ += sent;
    lineBytesSent_ += sent;
    return out;
}

void FaultPolicy::newLine()
{
    lineBytesSent_ = 0;
    droppedThisLine_ = false;
}

} // namespace ostrand::sim

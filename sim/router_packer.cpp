#include "router_packer.h"

#include <algorithm>
#include <cmath>

namespace ostrand::sim {

namespace {

// Routers cut a packet after a few character times of silence; 4 is a common default
// and keeps a reply's bytes, which follow each other without pause, together.
constexpr double kQuietChars = 4.0;

} // namespace

RouterPacker::RouterPacker(int baud, int packetBytes, QObject *parent)
    : QObject(parent), charMs_(baud > 0 ? 10000.0 / baud : 0.0), gapMs_(kQuietChars * charMs_),
      packetBytes_(std::max(1, packetBytes))
{
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &RouterPacker::pump);
}

void RouterPacker::write(const QByteArray &bytes, int dropAfter)
{
    const bool drops = dropAfter >= 0;
    const QByteArray sent = drops ? bytes.left(dropAfter) : bytes;
    if (sent.isEmpty() && !drops)
        return;
    const double start = std::max(nowMs(), serialFreeMs_);
    pending_.append({sent, start, drops});
    serialFreeMs_ = start + sent.size() * charMs_;
    // Without a line rate everything has arrived, but the rest of this turn of the event
    // loop (an echo and then the reply) still joins the same packet.
    arm();
}

void RouterPacker::reset()
{
    timer_.stop();
    pending_.clear();
    gathered_.clear();
    serialFreeMs_ = 0;
}

qint64 RouterPacker::msSinceLastByte() const
{
    return lastArrivalMs_ < 0 ? -1 : qint64(std::max(0.0, nowMs() - lastArrivalMs_));
}

void RouterPacker::emitPacket(int size)
{
    const QByteArray packet = gathered_.left(size);
    gathered_.remove(0, size);
    if (sink_ && !packet.isEmpty())
        sink_(packet);
}

void RouterPacker::pump()
{
    const double now = nowMs();
    while (!pending_.isEmpty()) {
        Segment &segment = pending_.first();
        int arrived = 0;
        while (arrived < segment.bytes.size() && arrivalMs(segment, arrived) <= now)
            ++arrived;
        if (arrived > 0) {
            gathered_.append(segment.bytes.left(arrived));
            lastArrivalMs_ = arrivalMs(segment, arrived - 1);
            segment.startMs += arrived * charMs_;
            segment.bytes.remove(0, arrived);
        }
        while (gathered_.size() >= packetBytes_)
            emitPacket(packetBytes_);
        if (!segment.bytes.isEmpty() || segment.startMs > now)
            break;
        const bool drops = segment.drops;
        pending_.removeFirst();
        if (drops) {
            // The router sends what it has; the connection then goes.
            emitPacket(int(gathered_.size()));
            reset();
            emit dropReached();
            return;
        }
    }
    if (pending_.isEmpty() && !gathered_.isEmpty() && now >= lastArrivalMs_ + gapMs_)
        emitPacket(int(gathered_.size()));
    arm();
}

void RouterPacker::arm()
{
    double due = -1;
    if (!pending_.isEmpty()) {
        // The next moment something can happen: the byte that fills a packet, or the last
        // byte on its way (then the silence after it).
        const int missing = std::max<int>(1, packetBytes_ - int(gathered_.size()));
        int counted = 0;
        for (const Segment &segment : pending_) {
            if (counted + segment.bytes.size() >= missing) {
                due = arrivalMs(segment, missing - counted - 1);
                break;
            }
            counted += int(segment.bytes.size());
        }
        const Segment &last = pending_.last();
        const double end =
            last.bytes.isEmpty() ? last.startMs : arrivalMs(last, int(last.bytes.size()) - 1);
        due = due < 0 ? end : std::min(due, end);
    } else if (!gathered_.isEmpty()) {
        due = lastArrivalMs_ + gapMs_;
    }
    if (due < 0) {
        timer_.stop();
        return;
    }
    timer_.start(int(std::max(0.0, std::ceil(due - nowMs()))));
}

} // namespace ostrand::sim

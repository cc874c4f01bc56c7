#include "reply_filter.h"

#include "link/crc16.h"
#include "link/reply_shapes.h"

#include <algorithm>

namespace ostrand::callin {
namespace {

// A tail that may begin a heartbeat is let go once the line was quiet this
// long: a router sends its heartbeat in one packet.
constexpr std::int64_t kPartialQuietMs = 300;
// Beyond this many matches in one reply every one is cut: no meter's data
// holds a router's pattern that often, and the readings to try stay few.
constexpr int kMaxMatchesTried = 8;
// What a router may add to one reply before the bytes are given up as not it.
constexpr int kMaxRouterBytesInReply = 1024;

bool crcChecks(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const std::uint16_t crc = crc16(frame.left(frame.size() - 2));
    return static_cast<quint8>(frame[frame.size() - 2]) == (crc & 0xFF)
           && static_cast<quint8>(frame[frame.size() - 1]) == (crc >> 8);
}

} // namespace

ReplyFilter::ReplyFilter(QByteArray heartbeat, QByteArray prefix)
{
    for (QByteArray *pattern : {&heartbeat, &prefix}) {
        if (!pattern->isEmpty() && !patterns_.contains(*pattern))
            patterns_.append(*pattern);
    }
}

void ReplyFilter::expect(const QByteArray &request)
{
    request_.clear();
    expected_ = 0;
    provisional_ = 0;
    if (request.size() < 2)
        return;
    const ReplyShape *shape = reply::shapeOf(static_cast<quint8>(request[1]));
    if (!shape)
        return;
    request_ = request;
    expected_ = reply::expectedLength(*shape, request);
    checked_ = shape->checked;
}

void ReplyFilter::clear()
{
    raw_.clear();
    ready_.clear();
    provisional_ = 0;
}

void ReplyFilter::feed(const QByteArray &bytes, std::int64_t nowMs)
{
    if (bytes.isEmpty())
        return;
    raw_.append(bytes);
    lastByteMs_ = nowMs;
    settle(nowMs);
}

QList<ReplyFilter::Match> ReplyFilter::matches(const QByteArray &bytes) const
{
    QList<Match> found;
    for (int at = 0; at < bytes.size();) {
        int length = 0;
        for (const QByteArray &pattern : patterns_) {
            if (bytes.size() - at >= pattern.size() && bytes.mid(at, pattern.size()) == pattern)
                length = std::max(length, static_cast<int>(pattern.size()));
        }
        if (length > 0) {
            found.append({at, length});
            at += length;
        } else {
            ++at;
        }
    }
    return found;
}

QByteArray ReplyFilter::cut(const QByteArray &bytes, const QList<Match> &found, unsigned mask) const
{
    QByteArray kept;
    int from = 0;
    for (int i = 0; i < found.size(); ++i) {
        if (!(mask & (1u << std::min(i, 31))))
            continue;
        kept.append(bytes.mid(from, found[i].at - from));
        from = found[i].at + found[i].length;
    }
    kept.append(bytes.mid(from));
    return kept;
}

int ReplyFilter::partialTail(const QByteArray &bytes) const
{
    int longest = 0;
    for (const QByteArray &pattern : patterns_) {
        for (int n = std::min<int>(pattern.size() - 1, bytes.size()); n > longest; --n) {
            if (bytes.endsWith(pattern.left(n))) {
                longest = n;
                break;
            }
        }
    }
    return longest;
}

bool ReplyFilter::checks(const QByteArray &frame) const
{
    if (frame.size() < 2 || frame[0] != request_[0])
        return false;
    const quint8 function = static_cast<quint8>(request_[1]);
    if (static_cast<quint8>(frame[1]) == (function | 0x80))
        return frame.size() == 5 && crcChecks(frame);
    if (static_cast<quint8>(frame[1]) != function || frame.size() != expected_ || !crcChecks(frame))
        return false;
    // A block's reply counts its bytes twice over the words asked for: a
    // reading that checks by its CRC alone by chance must still say so.
    if (function == 0x60 && request_.size() >= 7 && frame.size() >= 7) {
        const int asked = (static_cast<quint8>(request_[5]) << 8) | static_cast<quint8>(request_[6]);
        const int counted = (static_cast<quint8>(frame[5]) << 8) | static_cast<quint8>(frame[6]);
        return counted == 2 * asked;
    }
    return true;
}

void ReplyFilter::settle(std::int64_t nowMs)
{
    if (patterns_.isEmpty()) {
        ready_.append(raw_);
        raw_.clear();
        return;
    }
    const QList<Match> found = matches(raw_);
    const unsigned all = found.size() >= 32 ? ~0u : (1u << found.size()) - 1;
    if (!request_.isEmpty() && checked_) {
        // The bytes as received first: a meter's data may hold a pattern's bytes.
        QList<QByteArray> checking;
        const auto tryReading = [&](const QByteArray &reading) {
            if (checks(reading) && !checking.contains(reading))
                checking.append(reading);
        };
        tryReading(raw_);
        if (found.size() <= kMaxMatchesTried) {
            for (unsigned mask = 1; mask <= all && mask != 0; ++mask)
                tryReading(cut(raw_, found, mask));
        } else {
            tryReading(cut(raw_, found, all));
        }
        if (checking.size() == 1) {
            ready_.append(checking.first().mid(provisional_));
            routerBytes_ += raw_.size() - checking.first().size();
            raw_.clear();
            request_.clear();
            provisional_ = 0;
        } else if (checking.size() > 1) {
            // Two readings check: which is the meter's cannot be told, so
            // neither is taken, and the read is asked again.
            routerBytes_ += raw_.size();
            raw_.clear();
            provisional_ = 0;
        } else if (raw_.size() > 2 * expected_ + kMaxRouterBytesInReply) {
            // Far more than the reply and any router's bytes: not this reply.
            routerBytes_ += raw_.size();
            raw_.clear();
            provisional_ = 0;
        }
        return;
    }
    // No reply to check: everything the router put in is taken out, and a
    // tail that may begin a heartbeat waits for the rest or for quiet.
    QByteArray kept = cut(raw_, found, all);
    routerBytes_ += raw_.size() - kept.size();
    const int hold = nowMs - lastByteMs_ >= kPartialQuietMs ? 0 : partialTail(kept);
    ready_.append(kept.left(kept.size() - hold));
    raw_ = kept.right(hold);
}

int ReplyFilter::available(std::int64_t nowMs)
{
    if (!raw_.isEmpty() && (request_.isEmpty() || !checked_) && nowMs - lastByteMs_ >= kPartialQuietMs)
        settle(nowMs);
    int count = static_cast<int>(ready_.size());
    if (!request_.isEmpty() && checked_ && !raw_.isEmpty()) {
        // An unsettled reply shows the link it is coming, the router's bytes
        // taken out, but never whole: it is handed on whole once it checks.
        const QByteArray view = cut(raw_, matches(raw_), ~0u);
        const int shown = std::min<int>(view.size() - partialTail(view), expected_ - 1);
        count += std::max(0, shown - provisional_);
    }
    return count;
}

QByteArray ReplyFilter::take(int count, std::int64_t nowMs)
{
    const int have = available(nowMs);
    count = std::min(count, have);
    QByteArray bytes = ready_.left(count);
    ready_.remove(0, bytes.size());
    if (bytes.size() < count) {
        const QByteArray view = cut(raw_, matches(raw_), ~0u);
        const int more = count - static_cast<int>(bytes.size());
        bytes.append(view.mid(provisional_, more));
        provisional_ += more;
    }
    return bytes;
}

} // namespace ostrand::callin

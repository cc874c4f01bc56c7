#include "time_left.h"

#include <algorithm>
#include <cmath>

namespace ostrand {
namespace {

// A block that waited out a resend would swing a plain rate from one block to
// the next; a quarter of each new block's rate steadies it within a few blocks.
constexpr double kSmoothing = 0.25;
// One gap between blocks may be a resend's; two make a rate worth showing.
constexpr int kBlocksBeforeAnEstimate = 3;

} // namespace

void TimeLeftEstimate::blockRead(double seconds, double fractionDone)
{
    ++blocks_;
    const double elapsed = seconds - lastSeconds_;
    const double gained = fractionDone - lastFraction_;
    if (blocks_ > 1 && elapsed > 0 && gained >= 0) {
        const double rate = gained / elapsed;
        rate_ = blocks_ == 2 ? rate : rate_ + kSmoothing * (rate - rate_);
    }
    lastSeconds_ = seconds;
    lastFraction_ = std::max(lastFraction_, fractionDone);
}

std::optional<double> TimeLeftEstimate::secondsLeft() const
{
    if (blocks_ < kBlocksBeforeAnEstimate || rate_ <= 0)
        return std::nullopt;
    return std::max(0.0, 1.0 - lastFraction_) / rate_;
}

QString timeLeftText(std::optional<double> seconds)
{
    if (!seconds)
        return {};
    const double s = *seconds;
    if (s < 10)
        return QStringLiteral("a few seconds left");
    if (s < 55)
        return QStringLiteral("about %1 s left").arg(std::lround(s / 10) * 10);
    // Minutes to the nearest one, then to five past an hour and a half: more
    // exact than that no line keeps to.
    if (s < 90 * 60)
        return QStringLiteral("about %1 min left").arg(std::max(1L, std::lround(s / 60)));
    const long minutes = std::lround(s / 300) * 5;
    if (minutes % 60 == 0)
        return QStringLiteral("about %1 h left").arg(minutes / 60);
    return QStringLiteral("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}

} // namespace ostrand

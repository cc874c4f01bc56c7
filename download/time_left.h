#pragma once

#include <QString>
#include <optional>

namespace ostrand {

// How long a download has left, from how fast its blocks have gone so far. It
// reads no clock: it is told the time of each block.
class TimeLeftEstimate {
public:
    // `seconds` since the download began (any fixed origin), `fractionDone` 0 to 1.
    void blockRead(double seconds, double fractionDone);
    // Nothing until a couple of blocks have shown a rate; never negative.
    std::optional<double> secondsLeft() const;

private:
    int blocks_ = 0;
    double lastSeconds_ = 0;
    double lastFraction_ = 0;
    double rate_ = 0; // fraction a second, smoothed over the blocks
};

// "about 2 min left", "about 40 s left", "a few seconds left"; empty without an estimate.
QString timeLeftText(std::optional<double> seconds);

} // namespace ostrand

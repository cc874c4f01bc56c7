#pragma once

#include <QString>

#include <vector>

namespace ostrand {

// A labelled mark on the time axis.
struct TimeTick {
    double x = 0;    // milliseconds since the epoch, wall-clock reading as UTC
    QString label;   // "2:30 PM", "3/15", "Mar", "2004"
    QString context; // the date or year the label belongs to; empty while unchanged

    bool operator==(const TimeTick &o) const { return x == o.x && label == o.label && context == o.context; }
};

// Marks at round times ("every 6 hours", "every day", "every month") in
// [fromX, toX], as many as fit in `maxTicks` (taken as at least 2) with the
// finest such step, in order. The first mark and each mark where the date (or year) changes carry
// it as context.
std::vector<TimeTick> timeTicks(double fromX, double toX, int maxTicks);

} // namespace ostrand

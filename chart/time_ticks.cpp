#include "time_ticks.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cmath>

namespace ostrand {
namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
// 5 January 1970 was a Monday; weekly marks fall on Mondays.
constexpr qint64 kFirstMonday = 4 * kDay;

// What a mark reads as: a time of day to the second or to the minute, a day,
// a month or a year.
enum class Unit { Seconds, Minutes, Days, Months, Years };

struct Step {
    Unit unit;
    qint64 size; // milliseconds for fixed steps, months or years for the others
    qint64 origin = 0;
};

// clang-format off
constexpr std::array<Step, 25> kSteps{{
    {Unit::Seconds, 1 * kSecond},  {Unit::Seconds, 2 * kSecond},  {Unit::Seconds, 5 * kSecond},
    {Unit::Seconds, 10 * kSecond}, {Unit::Seconds, 15 * kSecond}, {Unit::Seconds, 30 * kSecond},
    {Unit::Minutes, 1 * kMinute},  {Unit::Minutes, 2 * kMinute},  {Unit::Minutes, 5 * kMinute},
    {Unit::Minutes, 10 * kMinute}, {Unit::Minutes, 15 * kMinute}, {Unit::Minutes, 30 * kMinute},
    {Unit::Minutes, 1 * kHour},    {Unit::Minutes, 2 * kHour},    {Unit::Minutes, 3 * kHour},
    {Unit::Minutes, 6 * kHour},    {Unit::Minutes, 12 * kHour},   {Unit::Days, 1 * kDay},
    {Unit::Days, 2 * kDay},        {Unit::Days, 7 * kDay, kFirstMonday},
    {Unit::Days, 14 * kDay, kFirstMonday},
    {Unit::Months, 1},             {Unit::Months, 2},             {Unit::Months, 3},
    {Unit::Months, 6},
}};
// clang-format on

// A rough length of a month or year step, only to choose the step.
constexpr double kAverageMonth = 30.44 * kDay;

double approximateSize(const Step &step)
{
    switch (step.unit) {
    case Unit::Months:
        return step.size * kAverageMonth;
    case Unit::Years:
        return step.size * 12 * kAverageMonth;
    default:
        return double(step.size);
    }
}

Step chooseStep(double span, int maxTicks)
{
    for (const Step &step : kSteps) {
        if (span / approximateSize(step) + 1 <= maxTicks)
            return step;
    }
    // Years in 1-2-5 steps; past ten thousand years no date is left to mark.
    Step step{Unit::Years, 1};
    for (qint64 decade = 1; decade <= 10000; decade *= 10) {
        for (qint64 factor : {1, 2, 5}) {
            step.size = factor * decade;
            if (span / approximateSize(step) + 1 <= maxTicks)
                return step;
        }
    }
    return step;
}

QDateTime at(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

std::vector<qint64> positions(const Step &step, double fromX, double toX)
{
    std::vector<qint64> result;
    if (step.unit == Unit::Months || step.unit == Unit::Years) {
        const qint64 months = step.unit == Unit::Years ? 12 * step.size : step.size;
        const QDate from = at(qint64(std::floor(fromX))).date();
        // Month index counted from year 0, rounded down to a whole step.
        qint64 index = qint64(from.year()) * 12 + from.month() - 1;
        index -= ((index % months) + months) % months;
        for (;; index += months) {
            const QDate date(int(index / 12), int(index % 12) + 1, 1);
            const qint64 x = QDateTime(date, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
            if (x > toX)
                break;
            if (x >= fromX)
                result.push_back(x);
        }
        return result;
    }
    const double firstIndex = std::ceil((fromX - step.origin) / double(step.size));
    for (qint64 x = qint64(firstIndex) * step.size + step.origin; x <= toX; x += step.size)
        result.push_back(x);
    return result;
}

void describe(const Step &step, const QDateTime &when, TimeTick &tick)
{
    switch (step.unit) {
    case Unit::Seconds:
        tick.label = when.toString(QStringLiteral("h:mm:ss AP"));
        tick.context = when.toString(QStringLiteral("M/d/yyyy"));
        break;
    case Unit::Minutes:
        tick.label = when.toString(QStringLiteral("h:mm AP"));
        tick.context = when.toString(QStringLiteral("M/d/yyyy"));
        break;
    case Unit::Days:
        tick.label = when.toString(QStringLiteral("M/d"));
        tick.context = when.toString(QStringLiteral("yyyy"));
        break;
    case Unit::Months:
        tick.label = when.toString(QStringLiteral("MMM"));
        tick.context = when.toString(QStringLiteral("yyyy"));
        break;
    case Unit::Years:
        tick.label = when.toString(QStringLiteral("yyyy"));
        break;
    }
}

} // namespace

std::vector<TimeTick> timeTicks(double fromX, double toX, int maxTicks)
{
    std::vector<TimeTick> ticks;
    if (!(toX > fromX) || maxTicks < 1)
        return ticks;
    const Step step = chooseStep(toX - fromX, std::max(maxTicks, 2));
    QString lastContext;
    for (qint64 x : positions(step, fromX, toX)) {
        TimeTick tick;
        tick.x = double(x);
        describe(step, at(x), tick);
        if (tick.context == lastContext)
            tick.context.clear();
        else
            lastContext = tick.context;
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

} // namespace ostrand

#pragma once

#include "survey/survey_series.h"

#include <QDate>
#include <array>
#include <optional>
#include <vector>

namespace ostrand::survey {

enum class DayQuality { Good, Partial, Missing };
QString qualityName(DayQuality quality); // "Good", "Partial", "Missing"

// A day completeness at or above this is Good.
constexpr double kGoodCompleteness = 0.95;
// Volumes from flow and from the totalizer further apart than this are flagged.
constexpr double kVolumeDisagreement = 0.02;

// One calendar day in the station's zone: 23 or 25 hours on a clock change.
struct DaySummary {
    QDate date;
    qint64 startUtcMs = 0; // the day's midnight
    qint64 endUtcMs = 0;   // the next day's midnight
    double volume = 0;     // m3: flow x log interval over the day's readings; NaN with no flow reading
    std::optional<double> volumeFromTotal; // m3: the totalizer's rise over the day
    bool volumesDisagree = false;          // by more than kVolumeDisagreement of `volume`
    double minFlow = 0, meanFlow = 0, maxFlow = 0; // m3/s; NaN with no flow reading
    double minNightFlow = 0; // m3/s: the lowest hourly mean from 00:00 to 06:00; NaN with none.
                             // Hours are real hours: a clock hour repeated in autumn is two.
    int readings = 0;        // instants logged: steps of the log interval with a reading
    int expected = 0;        // instants the log interval puts in the day (within the period)
    double completeness = 0; // readings / expected, 0..1
    DayQuality quality = DayQuality::Missing;
};

// A run of consecutive missing instants.
struct Gap {
    qint64 firstMissingUtcMs = 0;
    qint64 lastMissingUtcMs = 0;
    int missingIntervals = 0;
};

struct SurveySummary {
    int intervalSeconds = 0; // 0: too few readings to tell
    std::vector<DaySummary> days;
    std::vector<Gap> gaps;
};

// The period summarized: [fromUtcMs, toUtcMs); unset ends take the days of
// the first and last readings whole.
struct SummaryPeriod {
    std::optional<qint64> fromUtcMs;
    std::optional<qint64> toUtcMs;
};

// Days, gaps and completeness. The expected instants are the log interval's
// steps from the first reading, forwards and backwards through the period.
// A reading counts for the step nearest it. An unset end leaves its days whole
// (a log that starts at noon has a Partial first day) but makes no gap of the
// steps beyond the first or last reading; a given end does.
SurveySummary summarize(const SurveySeries &series, const SummaryPeriod &period = {});

// The dry-weather diurnal pattern: the mean flow of each local hour over the
// weekdays and over the weekend days among `dryDays` (empty: every Good day).
struct DiurnalPattern {
    std::array<double, 24> weekday{}; // m3/s; NaN for an hour with no reading
    std::array<double, 24> weekend{};
    std::vector<QDate> days; // the days it was made from
};
DiurnalPattern dryWeatherPattern(const SurveySeries &series, const SurveySummary &summary,
                                 const std::vector<QDate> &dryDays = {});

} // namespace ostrand::survey

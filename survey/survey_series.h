#pragma once

#include "store/store_records.h"
#include "survey/survey_setup.h"

#include <QTimeZone>
#include <array>
#include <vector>

namespace ostrand::survey {

// One station's survey channels over a period, SI values at each logged
// instant; NaN where the role's channel has no reading then, or no channel
// plays the role.
struct SurveySeries {
    std::vector<qint64> utcMs; // each logged instant, ascending, no repeats
    std::vector<double> depth;    // m
    std::vector<double> velocity; // m/s
    std::vector<double> flow;     // m3/s
    std::vector<double> total;    // m3, as the totalizer counts
    ChannelRoles roles;           // as resolved from the setup and the labels
    std::array<QString, 8> labels; // channel k's label at [k-1]; empty when none was read
    QTimeZone zone;               // the station's: days begin at its midnight
    SurveySetup setup;            // with the units the labels gave where the user gave none

    size_t size() const { return utcMs.size(); }
    bool hasDepth() const { return roles.depth != 0; }
    bool hasVelocity() const { return roles.velocity != 0; }
    bool hasFlow() const { return roles.flow != 0 || flowFromSection; }
    bool hasTotal() const { return roles.total != 0; }
    // No channel logs flow, but depth, velocity and the pipe's diameter give it (V x A).
    bool flowFromSection = false;
};

// The series of stored readings (any order, any station's: only `station`'s
// are taken), the roles and units resolved from `setup` and the labels.
SurveySeries seriesFromReadings(const std::vector<collect::StoredReading> &readings, const QString &station,
                                const SurveySetup &setup, const QTimeZone &zone);

// The log interval: the most common spacing of consecutive instants, in
// seconds (the smaller on a tie); 0 with fewer than two instants.
int logIntervalSeconds(const std::vector<qint64> &utcMs);

// The instants from `fromUtcMs` (inclusive) to `toUtcMs` (exclusive), as indices [first, last).
std::pair<size_t, size_t> indexRange(const SurveySeries &series, qint64 fromUtcMs, qint64 toUtcMs);

} // namespace ostrand::survey

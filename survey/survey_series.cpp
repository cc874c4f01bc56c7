#include "survey_series.h"

#include "survey/pipe_curves.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace ostrand::survey {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Logged {
    qint64 ms = 0;
    int channel = 0;
    double value = 0;
    size_t order = 0; // as read, so a repeat of one channel's instant keeps the later
};

} // namespace

SurveySeries seriesFromReadings(const std::vector<collect::StoredReading> &readings,
                                const QString &station, const SurveySetup &setup,
                                const QTimeZone &zone)
{
    SurveySeries series;
    series.zone = zone;
    std::vector<Logged> logged;
    logged.reserve(readings.size());
    std::array<qint64, 8> labelAt;
    labelAt.fill(std::numeric_limits<qint64>::min());
    for (size_t i = 0; i < readings.size(); ++i) {
        const collect::StoredReading &r = readings[i];
        if (r.station != station || r.channel < 1 || r.channel > 8 || !r.timeUtc.isValid())
            continue;
        const qint64 ms = r.timeUtc.toMSecsSinceEpoch();
        logged.push_back({ms, r.channel, r.value, i});
        // Labels can be renamed on the meter: the latest is the one that says what the channel is
        // now.
        if (ms >= labelAt[r.channel - 1] && !r.label.isEmpty()) {
            labelAt[r.channel - 1] = ms;
            series.labels[r.channel - 1] = r.label;
        }
    }
    std::sort(logged.begin(), logged.end(), [](const Logged &a, const Logged &b) {
        return a.ms != b.ms ? a.ms < b.ms : a.order < b.order;
    });

    series.roles = rolesFor(series.labels, setup.roles);
    series.setup = withLabelUnits(setup, series.roles, series.labels);
    series.setup.roles = series.roles;
    const ChannelRoles &roles = series.roles;
    const SurveySetup &units = series.setup;

    for (const Logged &l : logged)
        if (series.utcMs.empty() || series.utcMs.back() != l.ms)
            series.utcMs.push_back(l.ms);
    const size_t n = series.utcMs.size();
    series.depth.assign(n, kNaN);
    series.velocity.assign(n, kNaN);
    series.flow.assign(n, kNaN);
    series.total.assign(n, kNaN);
    size_t at = 0;
    for (const Logged &l : logged) {
        while (series.utcMs[at] != l.ms)
            ++at;
        if (l.channel == roles.depth)
            series.depth[at] = l.value * toMetres(units.depthUnit);
        else if (l.channel == roles.velocity)
            series.velocity[at] = l.value * toMetresPerSecond(units.velocityUnit);
        else if (l.channel == roles.flow)
            series.flow[at] = l.value * toCubicMetresPerSecond(units.flowUnit);
        else if (l.channel == roles.total)
            series.total[at] = l.value * toCubicMetres(units.totalUnit);
    }

    if (roles.flow == 0 && roles.depth != 0 && roles.velocity != 0 && units.pipe.diameterM) {
        series.flowFromSection = true;
        const double diameter = *units.pipe.diameterM;
        for (size_t i = 0; i < n; ++i)
            if (std::isfinite(series.depth[i]))
                series.flow[i] =
                    series.velocity[i] * circularSection(diameter, series.depth[i]).area;
    }
    return series;
}

int logIntervalSeconds(const std::vector<qint64> &utcMs)
{
    std::map<qint64, int> counts;
    for (size_t i = 1; i < utcMs.size(); ++i) {
        const qint64 seconds = (utcMs[i] - utcMs[i - 1] + 500) / 1000;
        if (seconds > 0)
            ++counts[seconds];
    }
    qint64 best = 0;
    int bestCount = 0;
    for (const auto &[seconds, count] : counts) // ascending, so a tie keeps the smaller
        if (count > bestCount) {
            best = seconds;
            bestCount = count;
        }
    return int(std::min<qint64>(best, std::numeric_limits<int>::max()));
}

std::pair<size_t, size_t> indexRange(const SurveySeries &series, qint64 fromUtcMs, qint64 toUtcMs)
{
    const auto begin = series.utcMs.begin();
    const auto first = std::lower_bound(begin, series.utcMs.end(), fromUtcMs);
    const auto last = std::lower_bound(first, series.utcMs.end(), std::max(fromUtcMs, toUtcMs));
    return {size_t(first - begin), size_t(last - begin)};
}

} // namespace ostrand::survey

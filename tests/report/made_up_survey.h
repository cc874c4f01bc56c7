#pragma once

#include "survey/pipe_curves.h"
#include "survey/survey_series.h"

#include <QDateTime>
#include <QTimeZone>

#include <cmath>
#include <vector>

namespace ostrand::testing {

// A survey made up in code: a 600 mm pipe at slope 0.002 with n 0.013, a
// depth that swings through the day, velocities exactly on the curve
// V = C R^(2/3) over `siltM` of silt, logged every 15 minutes from local
// midnight, with the instants in `missing` ([from, to) pairs) left out.
struct MadeUpSurvey {
    static constexpr double kDiameter = 0.6, kSlope = 0.002, kManningN = 0.013;
    QDate firstDay{2026, 3, 2}; // a Monday
    int days = 10;
    double siltM = 0;
    double coefficient =
        0.8 * std::sqrt(kSlope) / kManningN; // a pipe a little rougher than designed
    bool withPipe = true;
    std::vector<std::pair<qint64, qint64>> missing;

    QTimeZone zone() const { return QTimeZone("Europe/London"); }
    qint64 at(int day, int hour, int minute = 0) const
    {
        return QDateTime(firstDay.addDays(day), QTime(hour, minute), zone()).toMSecsSinceEpoch();
    }

    survey::SurveySeries series() const
    {
        survey::SurveySeries s;
        s.zone = zone();
        s.roles = {1, 2, 3, 4};
        s.setup.roles = s.roles;
        if (withPipe)
            s.setup.pipe = {kDiameter, kSlope, kManningN};
        s.labels = {QStringLiteral("Depth"), QStringLiteral("Velocity"), QStringLiteral("Flow"),
                    QStringLiteral("Flow Tot")};
        const qint64 start = at(0, 0);
        const qint64 end = at(days, 0);
        double total = 100;
        for (qint64 t = start; t < end; t += 15 * 60 * 1000) {
            bool skip = false;
            for (const auto &[from, to] : missing)
                skip = skip || (t >= from && t < to);
            if (skip)
                continue;
            const double hours = double(t - start) / 3.6e6;
            const double depth = siltM + 0.1 + 0.06 * std::sin((hours - 8) / 24 * 2 * M_PI);
            const survey::Section section = survey::circularSection(kDiameter, depth, siltM);
            const double velocity = coefficient * std::pow(section.hydraulicRadius(), 2.0 / 3);
            const double flow = velocity * section.area;
            total += flow * 900;
            s.utcMs.push_back(t);
            s.depth.push_back(depth);
            s.velocity.push_back(velocity);
            s.flow.push_back(flow);
            s.total.push_back(total);
        }
        return s;
    }
};

} // namespace ostrand::testing

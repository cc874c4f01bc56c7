#include "pipe_curves.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrand::survey {

namespace {

// The circular segment below `depth` in a pipe of `diameter`: its area and
// the wall it wets.
struct Segment {
    double area = 0;
    double arc = 0;
};

Segment segment(double diameter, double depth)
{
    const double r = diameter / 2;
    if (depth <= 0)
        return {};
    if (depth >= diameter)
        return {M_PI * r * r, M_PI * diameter};
    const double theta = 2 * std::acos(1 - 2 * depth / diameter);
    return {r * r * (theta - std::sin(theta)) / 2, r * theta};
}

// R^(2/3) of the section over silt, the x of every fit.
double radiusTerm(double diameter, double depth, double siltDepth)
{
    const double r = circularSection(diameter, depth, siltDepth).hydraulicRadius();
    return std::cbrt(r * r);
}

struct Points {
    std::vector<double> depths;
    std::vector<double> velocities;
    std::vector<Segment> below; // the segment under each depth, which no silt depth changes
    double sumVV = 0;           // of the velocities squared
    double sst = 0;             // about their mean
};

// The points a fit can use: both values logged.
Points usable(double diameter, const std::vector<double> &depths,
              const std::vector<double> &velocities)
{
    Points points;
    const size_t n = std::min(depths.size(), velocities.size());
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(depths[i]) || !std::isfinite(velocities[i]))
            continue;
        points.depths.push_back(depths[i]);
        points.velocities.push_back(velocities[i]);
        points.below.push_back(segment(diameter, std::min(depths[i], diameter)));
        sum += velocities[i];
        points.sumVV += velocities[i] * velocities[i];
    }
    if (!points.depths.empty())
        points.sst = points.sumVV - sum * sum / double(points.depths.size());
    return points;
}

// The least-squares C through the origin for silt `siltDepth`, and the squared error it leaves.
struct Trial {
    double coefficient = 0;
    double sse = std::numeric_limits<double>::infinity();
    bool fixed = false; // some point lies above the silt
};

Trial trial(double diameter, const Points &points, double siltDepth)
{
    // The silt's own segment and surface are the same for every point: only
    // a division and a cube root are left per point, which keeps a year's fit quick.
    const double silt = std::clamp(siltDepth, 0.0, diameter);
    const Segment bed = segment(diameter, silt);
    const double chord = 2 * std::sqrt(std::max(0.0, silt * (diameter - silt)));
    double sxv = 0, sxx = 0;
    for (size_t i = 0; i < points.depths.size(); ++i) {
        const Segment &under = points.below[i];
        const double perimeter = under.arc - bed.arc + chord;
        const double r =
            points.depths[i] > silt && perimeter > 0 ? (under.area - bed.area) / perimeter : 0;
        const double x = std::cbrt(r * r);
        sxv += x * points.velocities[i];
        sxx += x * x;
    }
    Trial t;
    if (sxx <= 0) {
        t.sse = points.sumVV;
        return t;
    }
    t.fixed = true;
    t.coefficient = sxv / sxx;
    t.sse = std::max(0.0, points.sumVV - sxv * sxv / sxx);
    return t;
}

CurveFit fitted(const Points &points, const Trial &t, double siltDepth)
{
    CurveFit fit;
    fit.points = int(points.depths.size());
    fit.valid = t.fixed;
    fit.coefficient = t.coefficient;
    fit.offsetM = siltDepth;
    // Velocities that never change leave nothing to explain: a curve through them all is a perfect
    // one.
    const double scale = std::max(points.sumVV, 1e-300);
    if (points.sst <= scale * 1e-15)
        fit.rSquared = t.sse <= scale * 1e-12 ? 1 : 0;
    else
        fit.rSquared = 1 - t.sse / points.sst;
    return fit;
}

} // namespace

Section circularSection(double diameter, double depth, double siltDepth)
{
    if (!(diameter > 0))
        return {};
    const double silt = std::clamp(siltDepth, 0.0, diameter);
    const double top = std::min(depth, diameter);
    if (!(top > silt))
        return {};
    const Segment above = segment(diameter, top);
    const Segment below = segment(diameter, silt);
    const double chord = 2 * std::sqrt(std::max(0.0, silt * (diameter - silt)));
    return {above.area - below.area, above.arc - below.arc + chord};
}

double manningVelocity(double diameter, double depth, double slope, double manningN)
{
    if (!(manningN > 0) || !(slope > 0))
        return 0;
    const double r = circularSection(diameter, depth).hydraulicRadius();
    return std::cbrt(r * r) * std::sqrt(slope) / manningN;
}

double manningFlow(double diameter, double depth, double slope, double manningN)
{
    return manningVelocity(diameter, depth, slope, manningN) *
           circularSection(diameter, depth).area;
}

double CurveFit::velocityAt(double diameter, double depth) const
{
    if (!valid)
        return std::numeric_limits<double>::quiet_NaN();
    return coefficient * radiusTerm(diameter, depth, offsetM);
}

CurveFit fitLanfearColl(double diameter, const std::vector<double> &depths,
                        const std::vector<double> &velocities)
{
    const Points points = usable(diameter, depths, velocities);
    if (points.depths.size() < 2 || !(diameter > 0)) {
        CurveFit none;
        none.points = int(points.depths.size());
        return none;
    }
    return fitted(points, trial(diameter, points, 0), 0);
}

CurveFit fitStevensSchutzbach(double diameter, const std::vector<double> &depths,
                              const std::vector<double> &velocities)
{
    const Points points = usable(diameter, depths, velocities);
    if (points.depths.size() < 3 || !(diameter > 0)) {
        CurveFit none;
        none.points = int(points.depths.size());
        return none;
    }
    // The error against the silt depth can have more than one dip: a coarse
    // scan finds the deepest, then a golden-section search narrows it.
    const double highest = diameter / 2;
    constexpr int kScanSteps = 64;
    const double step = highest / kScanSteps;
    int best = 0;
    Trial bestTrial = trial(diameter, points, 0);
    for (int k = 1; k <= kScanSteps; ++k) {
        const Trial t = trial(diameter, points, k * step);
        if (t.fixed && t.sse < bestTrial.sse) {
            best = k;
            bestTrial = t;
        }
    }
    double lo = std::max(0.0, (best - 1) * step);
    double hi = std::min(highest, (best + 1) * step);
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    double a = hi - ratio * (hi - lo);
    double b = lo + ratio * (hi - lo);
    Trial ta = trial(diameter, points, a);
    Trial tb = trial(diameter, points, b);
    constexpr double kTolerance = 1e-5; // m: a hundredth of a millimetre
    while (hi - lo > kTolerance) {
        if (ta.sse <= tb.sse) {
            hi = b;
            b = a;
            tb = ta;
            a = hi - ratio * (hi - lo);
            ta = trial(diameter, points, a);
        } else {
            lo = a;
            a = b;
            ta = tb;
            b = lo + ratio * (hi - lo);
            tb = trial(diameter, points, b);
        }
    }
    double silt = best * step;
    for (const auto &[depth, t] : {std::pair{a, ta}, std::pair{b, tb}})
        if (t.fixed && t.sse < bestTrial.sse) {
            silt = depth;
            bestTrial = t;
        }
    return fitted(points, bestTrial, silt);
}

} // namespace ostrand::survey

#pragma once

#include <vector>

namespace ostrand::survey {

// A circular pipe part full, in metres: the flow's cross-section below
// `depth`, over a flat bed of silt `siltDepth` deep (0: a clean pipe). A depth
// at or above the crown is the pipe full; at or below the silt, nothing.
struct Section {
    double area = 0;           // m2
    double wettedPerimeter = 0; // m: the pipe's wall under water and the silt's surface
    double hydraulicRadius() const { return wettedPerimeter > 0 ? area / wettedPerimeter : 0; }
};
Section circularSection(double diameter, double depth, double siltDepth = 0);

// Manning's equation for a circular pipe running part full (SI: V = R^(2/3) S^(1/2) / n).
double manningVelocity(double diameter, double depth, double slope, double manningN);
double manningFlow(double diameter, double depth, double slope, double manningN);

// One of the scattergraph's fitted pipe curves, V = C R^(2/3), R the
// hydraulic radius of the section over silt `offsetM` (0 for Lanfear-Coll).
struct CurveFit {
    bool valid = false;  // too few points, or points that fix nothing (all at depth 0)
    double coefficient = 0; // C, m^(1/3)/s: sqrt(S)/n of the pipe as it behaves
    double offsetM = 0;     // the depth below which nothing flows (silt, or a depth sensor reading high)
    double rSquared = 0;    // of the velocities the curve gives against those logged
    int points = 0;
    // The curve's velocity at `depth` in a pipe of `diameter`.
    double velocityAt(double diameter, double depth) const;
};

// Lanfear-Coll: C by least squares with no offset.
CurveFit fitLanfearColl(double diameter, const std::vector<double> &depths, const std::vector<double> &velocities);
// Stevens-Schutzbach: the silt depth (0 to half the diameter) and C that
// together leave the least squared error. The form used is the published
// one: Manning's shape applied to the section left above a flat sediment bed,
// V = C R_s^(2/3), R_s the hydraulic radius above the bed, the bed's depth
// found from the data (Enfinger & Schutzbach, "Scattergraph Principles and
// Practice", ADS Environmental Services). C comes in closed form for each bed
// depth; the depth by a coarse scan, then a golden-section search to 0.01 mm.
// A depth sensor that reads high leaves the same pattern as silt.
CurveFit fitStevensSchutzbach(double diameter, const std::vector<double> &depths,
                              const std::vector<double> &velocities);

} // namespace ostrand::survey

#pragma once

#include "survey/pipe_curves.h"

#include <QString>
#include <optional>
#include <vector>

namespace ostrand::web {

// What the scattergraph draws: each instant's depth against its velocity, in
// the units the station's survey gives (`depthPerMetre` and
// `velocityPerMetrePerSecond` turn SI into them), with the pipe's fitted
// curves when its diameter is known.
struct Scatter {
    std::vector<double> depthM;
    std::vector<double> velocityMs;
    QString depthUnit;
    QString velocityUnit;
    double depthPerMetre = 1000;
    double velocityPerMetrePerSecond = 1;
    std::optional<double> diameterM;
    survey::CurveFit lanfearColl;
    survey::CurveFit stevensSchutzbach;
};

// The scattergraph as inline SVG: velocity across, depth up.
QString scattergraphSvg(const Scatter &scatter);

} // namespace ostrand::web

#include "display_units.h"

#include <array>

namespace ostrand {
namespace {

constexpr std::array<double, 15> kFlowFactors = {
    448.831,    646316.8416, 0.646316, 1,       60,       86400,  28.317016, 1699.2,
    2446590.18, 2.446589,    0.02832,  101.952, 2446.848, 373.83, 641.1,
};

// MPS is metres per second. Earlier releases multiplied by the MGD flow
// factor (0.646316) here, showing velocities 2.1 times too high.
constexpr std::array<double, 2> kVelocityFactors = {1, 0.3048};

constexpr std::array<std::optional<double>, 7> kTotalFactors = {
    7.480519, 0.028313, 28.317016, 6.232082, 0.1781, std::nullopt, 0.000022956,
};

template <std::size_t N, typename T>
T lookup(const std::array<T, N> &table, int position, T otherwise)
{
    if (position < 0 || position >= static_cast<int>(N))
        return otherwise;
    return table[static_cast<std::size_t>(position)];
}

} // namespace

const UnitList &unitList(int combo)
{
    static const std::array<UnitList, 4> lists = {{
        {QStringLiteral("Combo1"),
         QStringLiteral("Flow Units"),
         {"GPM", "GPD", "MGD", "CFS", "CFM", "CFD", "LPS", "LPM", "LPD", "MLD", "M3S", "M3H", "M3D",
          "IGM", "BPH"},
         QStringLiteral("CFS"),
         QStringLiteral("[FlowUnits]"),
         1},
        {QStringLiteral("Combo2"),
         QStringLiteral("Total Units"),
         {"GAL", "MET3", "LTRS", "IGAL", "BARR", "CUFT", "ACFT"},
         QStringLiteral("CUFT"),
         QStringLiteral("[TotalUnits]"),
         1},
        {QStringLiteral("Combo3"),
         QStringLiteral("Flow Format"),
         {"#.", "#.#", "#.##", "#.###"},
         QStringLiteral("#.##"),
         QStringLiteral("[FlowFormat]"),
         1},
        {QStringLiteral("Combo4"),
         QStringLiteral("Velocity Units"),
         {"FPS", "MPS"},
         QStringLiteral("FPS"),
         QStringLiteral("[VelocityUnits]"),
         1},
    }};
    if (combo < 1 || combo > 4)
        combo = 1;
    return lists[static_cast<std::size_t>(combo - 1)];
}

double flowFactor(int position)
{
    return lookup(kFlowFactors, position, 1.0);
}

int flowDecimals(int position)
{
    return position >= 0 && position <= 3 ? position : 1;
}

double velocityFactor(int position)
{
    return lookup(kVelocityFactors, position, 1.0);
}

std::optional<double> totalFactor(int position)
{
    return lookup(kTotalFactors, position, std::optional<double>());
}

} // namespace ostrand

#pragma once

#include <QString>
#include <optional>

namespace ostrand::survey {

// The log carries numbers only: what each role's numbers are in is said once
// by the user (stations file, report options or the View tab). Inside the
// survey code every value is SI: metres, m/s, m3/s, m3.
enum class DepthUnit { Millimetre, Metre, Inch, Foot };
enum class VelocityUnit { MetrePerSecond, FootPerSecond };
enum class FlowUnit { LitrePerSecond, CubicMetrePerSecond, CubicMetrePerHour, Gpm, Mgd, Cfs };
enum class TotalUnit { CubicMetre, Litre, Gallon, CubicFoot };
// What a day's volume is reported in: m3 for metric flow units, US gallons
// for gpm and MGD, cubic feet for cfs.
enum class VolumeUnit { CubicMetre, Gallon, CubicFoot };

// The names the stations file, the options and the window use: "mm", "m",
// "in", "ft"; "m/s", "ft/s"; "l/s", "m3/s", "m3/h", "gpm", "MGD", "cfs";
// "m3", "l", "gal", "ft3". Matched without regard to case.
QString unitName(DepthUnit unit);
QString unitName(VelocityUnit unit);
QString unitName(FlowUnit unit);
QString unitName(TotalUnit unit);
QString unitName(VolumeUnit unit);
std::optional<DepthUnit> depthUnitNamed(const QString &name);
std::optional<VelocityUnit> velocityUnitNamed(const QString &name);
std::optional<FlowUnit> flowUnitNamed(const QString &name);
std::optional<TotalUnit> totalUnitNamed(const QString &name);
// "mm, m, in, ft" and the like, for messages.
QString depthUnitChoices();
QString velocityUnitChoices();
QString flowUnitChoices();
QString totalUnitChoices();

// Factors to SI: value in the unit times the factor is metres, m/s, m3/s, m3.
double toMetres(DepthUnit unit);
double toMetresPerSecond(VelocityUnit unit);
double toCubicMetresPerSecond(FlowUnit unit);
double toCubicMetres(TotalUnit unit);
double toCubicMetres(VolumeUnit unit);
VolumeUnit volumeUnitFor(FlowUnit unit);

// A length with its unit, as `pipe-diameter` takes it: "600 mm", "0.6 m",
// "24 in", "2 ft" (a blank between is optional); nullopt with *problem set
// when it is none or not above zero.
std::optional<double> lengthInMetres(const QString &text, QString *problem);

} // namespace ostrand::survey

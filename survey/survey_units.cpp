#include "survey_units.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>
#include <utility>
#include <vector>

namespace ostrand::survey {

namespace {

// US gallon and international foot, as the meters' imperial units mean them.
constexpr double kGallon = 3.785411784e-3;
constexpr double kFoot = 0.3048;
constexpr double kCubicFoot = kFoot * kFoot * kFoot;

template <typename Unit> using Names = std::vector<std::pair<Unit, QString>>;

// The first name of each unit is the one shown; the others are read too,
// since labels spell units as their makers like.
const Names<DepthUnit> &depthNames()
{
    static const Names<DepthUnit> names{
        {DepthUnit::Millimetre, QStringLiteral("mm")}, {DepthUnit::Metre, QStringLiteral("m")},
        {DepthUnit::Inch, QStringLiteral("in")},       {DepthUnit::Foot, QStringLiteral("ft")},
        {DepthUnit::Inch, QStringLiteral("inch")},     {DepthUnit::Inch, QStringLiteral("inches")},
        {DepthUnit::Foot, QStringLiteral("feet")}};
    return names;
}

const Names<VelocityUnit> &velocityNames()
{
    static const Names<VelocityUnit> names{{VelocityUnit::MetrePerSecond, QStringLiteral("m/s")},
                                           {VelocityUnit::FootPerSecond, QStringLiteral("ft/s")},
                                           {VelocityUnit::FootPerSecond, QStringLiteral("fps")}};
    return names;
}

const Names<FlowUnit> &flowNames()
{
    static const Names<FlowUnit> names{{FlowUnit::LitrePerSecond, QStringLiteral("l/s")},
                                       {FlowUnit::CubicMetrePerSecond, QStringLiteral("m3/s")},
                                       {FlowUnit::CubicMetrePerHour, QStringLiteral("m3/h")},
                                       {FlowUnit::Gpm, QStringLiteral("gpm")},
                                       {FlowUnit::Mgd, QStringLiteral("MGD")},
                                       {FlowUnit::Cfs, QStringLiteral("cfs")},
                                       {FlowUnit::LitrePerSecond, QStringLiteral("lps")}};
    return names;
}

const Names<TotalUnit> &totalNames()
{
    static const Names<TotalUnit> names{{TotalUnit::CubicMetre, QStringLiteral("m3")},
                                        {TotalUnit::Litre, QStringLiteral("l")},
                                        {TotalUnit::Gallon, QStringLiteral("gal")},
                                        {TotalUnit::CubicFoot, QStringLiteral("ft3")}};
    return names;
}

template <typename Unit> QString nameOf(const Names<Unit> &names, Unit unit)
{
    for (const auto &[u, name] : names)
        if (u == unit)
            return name;
    return {};
}

template <typename Unit> std::optional<Unit> named(const Names<Unit> &names, const QString &text)
{
    const QString wanted = text.trimmed();
    for (const auto &[u, name] : names)
        if (wanted.compare(name, Qt::CaseInsensitive) == 0)
            return u;
    return std::nullopt;
}

// The shown names only, for messages.
template <typename Unit> QString choices(const Names<Unit> &names)
{
    QStringList shown;
    for (const auto &[u, name] : names)
        if (nameOf(names, u) == name)
            shown << name;
    return shown.join(QStringLiteral(", "));
}

} // namespace

QString unitName(DepthUnit unit)
{
    return nameOf(depthNames(), unit);
}
QString unitName(VelocityUnit unit)
{
    return nameOf(velocityNames(), unit);
}
QString unitName(FlowUnit unit)
{
    return nameOf(flowNames(), unit);
}
QString unitName(TotalUnit unit)
{
    return nameOf(totalNames(), unit);
}

QString unitName(VolumeUnit unit)
{
    switch (unit) {
    case VolumeUnit::CubicMetre:
        return QStringLiteral("m3");
    case VolumeUnit::Gallon:
        return QStringLiteral("gal");
    case VolumeUnit::CubicFoot:
        return QStringLiteral("ft3");
    }
    return {};
}

std::optional<DepthUnit> depthUnitNamed(const QString &name)
{
    return named(depthNames(), name);
}
std::optional<VelocityUnit> velocityUnitNamed(const QString &name)
{
    return named(velocityNames(), name);
}
std::optional<FlowUnit> flowUnitNamed(const QString &name)
{
    return named(flowNames(), name);
}
std::optional<TotalUnit> totalUnitNamed(const QString &name)
{
    return named(totalNames(), name);
}

QString depthUnitChoices()
{
    return choices(depthNames());
}
QString velocityUnitChoices()
{
    return choices(velocityNames());
}
QString flowUnitChoices()
{
    return choices(flowNames());
}
QString totalUnitChoices()
{
    return choices(totalNames());
}

double toMetres(DepthUnit unit)
{
    switch (unit) {
    case DepthUnit::Millimetre:
        return 1e-3;
    case DepthUnit::Metre:
        return 1;
    case DepthUnit::Inch:
        return 0.0254;
    case DepthUnit::Foot:
        return kFoot;
    }
    return 1;
}

double toMetresPerSecond(VelocityUnit unit)
{
    return unit == VelocityUnit::FootPerSecond ? kFoot : 1;
}

double toCubicMetresPerSecond(FlowUnit unit)
{
    switch (unit) {
    case FlowUnit::LitrePerSecond:
        return 1e-3;
    case FlowUnit::CubicMetrePerSecond:
        return 1;
    case FlowUnit::CubicMetrePerHour:
        return 1.0 / 3600;
    case FlowUnit::Gpm:
        return kGallon / 60;
    case FlowUnit::Mgd:
        return 1e6 * kGallon / 86400;
    case FlowUnit::Cfs:
        return kCubicFoot;
    }
    return 1;
}

double toCubicMetres(TotalUnit unit)
{
    switch (unit) {
    case TotalUnit::CubicMetre:
        return 1;
    case TotalUnit::Litre:
        return 1e-3;
    case TotalUnit::Gallon:
        return kGallon;
    case TotalUnit::CubicFoot:
        return kCubicFoot;
    }
    return 1;
}

double toCubicMetres(VolumeUnit unit)
{
    switch (unit) {
    case VolumeUnit::CubicMetre:
        return 1;
    case VolumeUnit::Gallon:
        return kGallon;
    case VolumeUnit::CubicFoot:
        return kCubicFoot;
    }
    return 1;
}

VolumeUnit volumeUnitFor(FlowUnit unit)
{
    switch (unit) {
    case FlowUnit::Gpm:
    case FlowUnit::Mgd:
        return VolumeUnit::Gallon;
    case FlowUnit::Cfs:
        return VolumeUnit::CubicFoot;
    default:
        return VolumeUnit::CubicMetre;
    }
}

std::optional<double> lengthInMetres(const QString &text, QString *problem)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\s*([+-]?(?:\d+\.?\d*|\.\d+))\s*([A-Za-z]+)\s*$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    const std::optional<DepthUnit> unit =
        match.hasMatch() ? depthUnitNamed(match.captured(2)) : std::nullopt;
    const double number = match.captured(1).toDouble();
    if (!unit || !std::isfinite(number) || number <= 0) {
        if (problem)
            *problem =
                QStringLiteral(
                    "takes a length above zero and its unit (%1), such as \"600 mm\"; not \"%2\"")
                    .arg(depthUnitChoices(), text);
        return std::nullopt;
    }
    return number * toMetres(*unit);
}

} // namespace ostrand::survey

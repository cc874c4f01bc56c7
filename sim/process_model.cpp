#include "process_model.h"

#include <cmath>
#include <cstdint>

namespace ostrand::sim {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kBaseFlow = 2.0;    // cfs
constexpr double kDailySwing = 0.35; // fraction of the base flow
constexpr double kDay = 86400.0;
constexpr double kPeakShift = 9 * 3600;          // daily cycle crosses the mean rising at 09:00
constexpr double kRippleSwing = 0.12;            // fraction of the base flow
constexpr double kRipplePeriod = 420.0;          // seconds
constexpr double kPipeArea = 0.7853981633974483; // square feet, 12-inch bore

// A repeatable value in [-1, 1] per channel and minute (splitmix64 finaliser).
double jitter(int channel, double t)
{
    std::uint64_t x = std::uint64_t(std::llround(t / 60.0)) * 0x9E3779B97F4A7C15ull +
                      std::uint64_t(channel) * 0xBF58476D1CE4E5B9ull;
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return double(x >> 11) / double(1ull << 52) - 1.0;
}

// Logged readings keep to 1/256 steps so a four-byte float holds them exactly and a
// download shows them without float noise in the last digits.
double toFloatSteps(double value)
{
    return std::round(value * 256.0) / 256.0;
}

} // namespace

double meterSeconds(const QDateTime &t)
{
    static const QDateTime epoch(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime asUtc(t.date(), t.time(), Qt::UTC);
    return double(epoch.msecsTo(asUtc)) / 1000.0;
}

namespace process {

double flowCfs(double t)
{
    return kBaseFlow * (1.0 + kDailySwing * std::sin(kTwoPi * (t - kPeakShift) / kDay) +
                        kRippleSwing * std::sin(kTwoPi * t / kRipplePeriod));
}

double volumeCf(double t0, double t1)
{
    const auto antiderivative = [](double t) {
        return kBaseFlow *
               (t - kDailySwing * kDay / kTwoPi * std::cos(kTwoPi * (t - kPeakShift) / kDay) -
                kRippleSwing * kRipplePeriod / kTwoPi * std::cos(kTwoPi * t / kRipplePeriod));
    };
    return antiderivative(t1) - antiderivative(t0);
}

double velocityFps(double t)
{
    return flowCfs(t) / kPipeArea;
}

double levelFt(double t)
{
    return 0.45 + 0.55 * std::pow(flowCfs(t) / kBaseFlow, 0.6);
}

double temperatureF(double t)
{
    return 54.0 + 5.0 * std::sin(kTwoPi * (t - 10 * 3600) / kDay);
}

} // namespace process

Quantity quantityForLabel(const QString &label)
{
    if (label.contains(QLatin1String("Tot")))
        return Quantity::Volume;
    if (label.contains(QLatin1String("Level"), Qt::CaseInsensitive))
        return Quantity::Level;
    if (label.contains(QLatin1String("Vel"), Qt::CaseInsensitive))
        return Quantity::Velocity;
    if (label.contains(QLatin1String("Temp"), Qt::CaseInsensitive))
        return Quantity::Temperature;
    return Quantity::Flow;
}

QString unitsOf(Quantity quantity)
{
    switch (quantity) {
    case Quantity::Flow:
        return QStringLiteral("CFS");
    case Quantity::Volume:
        return QStringLiteral("CUFT");
    case Quantity::Level:
        return QStringLiteral("FT");
    case Quantity::Velocity:
        return QStringLiteral("FPS");
    case Quantity::Temperature:
        return QStringLiteral("DEGF");
    }
    return {};
}

double loggedValue(int channel, Quantity quantity, const QDateTime &at, const QDateTime &logStart)
{
    const double t = meterSeconds(at);
    const double wobble = 1.0 + 0.01 * jitter(channel, t);
    switch (quantity) {
    case Quantity::Volume:
        return std::floor(1000.0 * channel + process::volumeCf(meterSeconds(logStart), t));
    case Quantity::Level:
        return toFloatSteps(process::levelFt(t) * wobble);
    case Quantity::Velocity:
        return toFloatSteps(process::velocityFps(t) * wobble);
    case Quantity::Temperature:
        return toFloatSteps(process::temperatureF(t) + 0.2 * jitter(channel, t));
    case Quantity::Flow:
        break;
    }
    // Flow channels further down the list measure smaller branch lines.
    return toFloatSteps(process::flowCfs(t) * wobble / (1.0 + 0.25 * (channel - 1)));
}

} // namespace ostrand::sim

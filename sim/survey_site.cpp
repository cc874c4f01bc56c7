#include "survey_site.h"

#include "process_model.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ostrand::sim {

namespace {

constexpr double kPi = 3.141592653589793;

// A repeatable value in [-1, 1] for one reading (splitmix64 finaliser): the same options
// give the same log on every run, and each meter of a fleet its own.
double noiseValue(double meterSeconds, int channel, int meterNumber)
{
    std::uint64_t x = std::uint64_t(std::llround(meterSeconds / 60.0)) * 0x9E3779B97F4A7C15ull +
                      std::uint64_t(channel) * 0xBF58476D1CE4E5B9ull +
                      std::uint64_t(meterNumber) * 0xD6E8FEB86659FD93ull;
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return double(x >> 11) / double(1ull << 52) - 1.0;
}

// Readings keep to binary steps so the meter's four-byte float holds them exactly (a
// total past the steps' reach is rounded to the float the meter would keep).
double onSteps(double value, double stepsPerUnit)
{
    return double(float(std::round(value * stepsPerUnit) / stepsPerUnit));
}

// The water's share of a circle of radius r below a level h above its bottom.
struct Segment {
    double area = 0;
    double arc = 0;
};
Segment segmentBelow(double r, double h)
{
    if (h <= 0)
        return {};
    if (h >= 2 * r)
        return {kPi * r * r, 2 * kPi * r};
    const double theta = 2 * std::acos((r - h) / r);
    return {r * r * (theta - std::sin(theta)) / 2, r * theta};
}

// Hours from the midnight before `t`, fractions included.
double hourOfDay(const QDateTime &t)
{
    return t.time().msecsSinceStartOfDay() / 3600000.0;
}

// Distance between two hours of the day going round midnight.
double hoursApart(double a, double b)
{
    const double d = std::fabs(a - b);
    return std::min(d, 24.0 - d);
}

// The dry-weather shape before scaling: a sharp morning peak, a broad evening one and a
// midday shoulder, lowest in the small hours.
double rawShape(double hour)
{
    const auto bump = [hour](double at, double width) {
        const double x = hoursApart(hour, at) / width;
        return std::exp(-x * x);
    };
    return bump(8.0, 1.7) + 0.85 * bump(20.0, 3.0) + 0.3 * bump(13.5, 2.5);
}

struct ShapeRange {
    double low = 0;
    double high = 1;
};

const ShapeRange &shapeRange()
{
    static const ShapeRange range = [] {
        ShapeRange r{rawShape(0), rawShape(0)};
        for (int minute = 0; minute < 24 * 60; ++minute) {
            r.low = std::min(r.low, rawShape(minute / 60.0));
            r.high = std::max(r.high, rawShape(minute / 60.0));
        }
        return r;
    }();
    return range;
}

bool isWeekendDay(const QDate &date)
{
    return date.dayOfWeek() >= Qt::Saturday;
}

} // namespace

QStringList surveyLabels()
{
    return {QStringLiteral("Depth (mm)"), QStringLiteral("Velocity (m/s)"),
            QStringLiteral("Flow (l/s)"), QStringLiteral("Flow Tot (m3)")};
}

QStringList surveyUnits()
{
    return {QStringLiteral("MM"), QStringLiteral("M/S"), QStringLiteral("L/S"),
            QStringLiteral("M3")};
}

bool parseSurveySpan(const QString &text, double unitSeconds, const char *option,
                     SurveySettings::Span *span, QString *error)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    QDateTime start;
    double amount = 0;
    bool ok = parts.size() == 2;
    if (ok) {
        QString when = parts[0].trimmed();
        when.replace(QLatin1Char(' '), QLatin1Char('T'));
        start = QDateTime::fromString(when, QStringLiteral("yyyy-MM-ddTHH:mm"));
        amount = parts[1].trimmed().toDouble(&ok);
        ok = ok && start.isValid() && amount > 0 && amount * unitSeconds <= 366.0 * 86400;
    }
    if (!ok) {
        *error = QStringLiteral("--%1 wants START/%2 with START as YYYY-MM-DDTHH:MM (meter "
                                "time) and a positive length, not \"%3\"")
                     .arg(QLatin1String(option),
                          unitSeconds == 3600 ? QStringLiteral("HOURS") : QStringLiteral("MINUTES"),
                          text);
        return false;
    }
    span->start = QDateTime(start.date(), start.time(), Qt::UTC);
    span->seconds = qint64(std::llround(amount * unitSeconds));
    return true;
}

namespace survey_pipe {

Wetted wetted(double diameter, double depth, double silt)
{
    const double r = diameter / 2;
    const double top = std::min(depth, diameter);
    if (top <= silt)
        return {};
    const Segment water = segmentBelow(r, top);
    const Segment bed = segmentBelow(r, silt);
    const double bedWidth = silt > 0 ? 2 * std::sqrt(silt * (diameter - silt)) : 0.0;
    return {water.area - bed.area, water.arc - bed.arc + bedWidth};
}

double velocity(double diameter, double depth, double silt, double slope, double n)
{
    const Wetted w = wetted(diameter, depth, silt);
    if (w.perimeter <= 0)
        return 0;
    return std::pow(w.area / w.perimeter, 2.0 / 3.0) * std::sqrt(slope) / n;
}

} // namespace survey_pipe

namespace survey_depth {

double dryWeatherFraction(const QDateTime &t)
{
    const ShapeRange &range = shapeRange();
    const double shape = (rawShape(hourOfDay(t)) - range.low) / (range.high - range.low);
    const bool weekend = isWeekendDay(t.addSecs(-4 * 3600).date());
    return 0.15 + 0.30 * shape * (weekend ? 0.75 : 1.0);
}

double stormWeight(const SurveySettings &settings, const QDateTime &t)
{
    double weight = 0;
    for (const SurveySettings::Span &storm : settings.storms) {
        const double x = double(storm.start.secsTo(t)) / double(storm.seconds);
        if (x > 0 && x < 1)
            weight = std::max(weight, std::pow(std::sin(kPi * x), 2));
    }
    return weight;
}

double trueDepth(const SurveySettings &settings, const QDateTime &t)
{
    const double diameter = settings.diameterMm / 1000;
    const double silt = settings.siltMm / 1000;
    const double dry = silt + dryWeatherFraction(t) * (diameter - silt);
    const double peak = std::max(dry, kStormPeakFraction * diameter);
    return dry + (peak - dry) * stormWeight(settings, t);
}

} // namespace survey_depth

bool inSurveyGap(const SurveySettings &settings, const QDateTime &t)
{
    return std::any_of(settings.gaps.begin(), settings.gaps.end(),
                       [&t](const SurveySettings::Span &gap) {
                           const qint64 into = gap.start.secsTo(t);
                           return into >= 0 && into < gap.seconds;
                       });
}

SurveyLog::SurveyLog(const SurveySettings &settings, const QDateTime &logStart, int intervalMinutes,
                     int meterNumber)
    : settings_(settings), logStart_(logStart), stepSeconds_(qint64(intervalMinutes) * 60),
      meterNumber_(meterNumber), counted_(logStart)
{
}

SurveyReading SurveyLog::measured(const QDateTime &t) const
{
    const double seconds = meterSeconds(t);
    const double diameter = settings_.diameterMm / 1000;
    const double silt = settings_.siltMm / 1000;
    const double depth = survey_depth::trueDepth(settings_, t);
    const double depthNoise = 1 + settings_.noise * noiseValue(seconds, 1, meterNumber_);
    const double velocityNoise = 1 + settings_.noise * noiseValue(seconds, 2, meterNumber_);

    SurveyReading r;
    r.depthMm = onSteps(depth * depthNoise * 1000, 64);
    r.velocity =
        onSteps(survey_pipe::velocity(diameter, depth, silt, settings_.slope, settings_.manningN) *
                    velocityNoise,
                4096);
    // The meter's own flow: its velocity over the area of the depth it measured.
    r.flowLps = onSteps(
        r.velocity * survey_pipe::wetted(diameter, r.depthMm / 1000, silt).area * 1000, 256);
    return r;
}

SurveyReading SurveyLog::readingAt(const QDateTime &stamp)
{
    while (stepSeconds_ > 0 && counted_.secsTo(stamp) >= stepSeconds_) {
        counted_ = counted_.addSecs(stepSeconds_);
        total_ += measured(counted_).flowLps * double(stepSeconds_) / 1000;
    }
    SurveyReading r = measured(stamp);
    r.totalM3 = onSteps(total_, 64);
    return r;
}

QVector<LogRecord> SurveyLog::recordsAt(const QDateTime &stamp)
{
    const SurveyReading r = readingAt(stamp);
    if (inSurveyGap(settings_, stamp))
        return {};
    return {{1, stamp, r.depthMm},
            {2, stamp, r.velocity},
            {3, stamp, r.flowLps},
            {4, stamp, r.totalM3}};
}

} // namespace ostrand::sim

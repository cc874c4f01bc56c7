#pragma once

#include "log_record.h"

#include <QDateTime>
#include <QString>
#include <QVector>

namespace ostrand::sim {

// A flow-survey site for --survey: a circular pipe whose depth follows a dry-weather day,
// storms and noise, with the velocity Manning's equation gives at that depth. The curve is
// worked out here on its own, apart from the program's survey code, so a mistake in one
// shows against the other instead of being copied into both.
struct SurveySettings {
    bool enabled = false;
    double diameterMm = 600.0;
    double slope = 0.002;
    double manningN = 0.013;
    double siltMm = 0.0; // a flat bed of silt this deep; water flows above it only
    double noise = 0.02; // each depth and velocity reading is off by up to this fraction
    struct Span {
        QDateTime start; // meter time
        qint64 seconds = 0;
    };
    QVector<Span> storms; // depth rises toward the crown and back over each
    QVector<Span> gaps;   // instants in [start, start + seconds) are not logged
};

// The labels of the four channels a survey meter logs, channel 1 first.
QStringList surveyLabels();
// The units its setup blocks name, channel 1 first.
QStringList surveyUnits();

// Reads "START/AMOUNT" (START as YYYY-MM-DDTHH:MM or "YYYY-MM-DD HH:MM", meter time;
// AMOUNT a positive number of `unitSeconds`); false with `error` saying what it wants.
bool parseSurveySpan(const QString &text, double unitSeconds, const char *option,
                     SurveySettings::Span *span, QString *error);

namespace survey_pipe {

// The flow's cross-section in a circular pipe of `diameter` with water `depth` deep
// over a silt bed `silt` deep (all metres): area and wetted perimeter, the silt's
// surface counted in the perimeter. At or above the crown the pipe runs full.
struct Wetted {
    double area = 0;
    double perimeter = 0;
};
Wetted wetted(double diameter, double depth, double silt);

// Manning's mean velocity (m/s) in that section at `slope` with roughness `n`.
double velocity(double diameter, double depth, double silt, double slope, double n);

} // namespace survey_pipe

// What the site's depth is made of at meter time `t`.
namespace survey_depth {

// The dry-weather depth above the silt as a fraction of the pipe's height above it:
// 0.15 at the night's low (about 04:00) to 0.45 at the weekday's morning peak, the
// weekend a quarter lower (a weekend day runs from 04:00 to 04:00, so it starts and
// ends at the low without a step).
double dryWeatherFraction(const QDateTime &t);

// How far a storm has raised the depth toward its peak at `t`: 0 outside every storm,
// rising as sin² to 1 half way through and back.
double stormWeight(const SurveySettings &settings, const QDateTime &t);

// The depth storms reach at their peak, as a fraction of the diameter.
constexpr double kStormPeakFraction = 0.95;

// The true depth (metres, from the invert) at `t`, before the sensor's noise.
double trueDepth(const SurveySettings &settings, const QDateTime &t);

} // namespace survey_depth

// True when `t` falls in one of the settings' gaps.
bool inSurveyGap(const SurveySettings &settings, const QDateTime &t);

// One instant's readings as the survey meter logs them (values a meter float holds).
struct SurveyReading {
    double depthMm = 0;
    double velocity = 0; // m/s
    double flowLps = 0;
    double totalM3 = 0; // from the log's start
};

// The survey meter's log, instant after instant: it keeps the running total, which counts
// every interval's flow (gaps too: the meter measures through them, it only does not log).
class SurveyLog {
public:
    SurveyLog(const SurveySettings &settings, const QDateTime &logStart, int intervalMinutes,
              int meterNumber);

    // The readings at `stamp`, an instant on the interval grid at or after the last asked.
    SurveyReading readingAt(const QDateTime &stamp);
    // The records logged at `stamp`: four, channel order, or none in a gap.
    QVector<LogRecord> recordsAt(const QDateTime &stamp);

    // The readings at `t` before the total: depth, velocity and flow as measured.
    SurveyReading measured(const QDateTime &t) const;

private:
    SurveySettings settings_;
    QDateTime logStart_;
    qint64 stepSeconds_;
    int meterNumber_;
    QDateTime counted_; // the last instant whose flow is in total_
    double total_ = 0;  // m3
};

} // namespace ostrand::sim

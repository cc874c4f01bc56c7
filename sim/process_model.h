#pragma once

#include <QDateTime>
#include <QString>

namespace ostrand::sim {

// Seconds from 2000-01-01 00:00 to the meter wall-clock time `t` (the meter knows no
// time zone, so every stamp is taken as UTC).
double meterSeconds(const QDateTime &t);

// The simulated site: a pipe whose flow follows a daily cycle with a faster ripple on top,
// never reversing. Everything is a pure function of time, so the log, the live display and
// the tests all see the same process.
namespace process {

// Flow in cubic feet per second at `t` meter seconds.
double flowCfs(double t);
// Cubic feet passed between `t0` and `t1` (the exact integral of the flow).
double volumeCf(double t0, double t1);
// Mean velocity in feet per second (a 12-inch pipe running full).
double velocityFps(double t);
// Water level in feet.
double levelFt(double t);
// Water temperature in degrees Fahrenheit.
double temperatureF(double t);

} // namespace process

// What a logged channel measures.
enum class Quantity { Flow, Volume, Level, Velocity, Temperature };

// The quantity a channel with `label` logs: "Tot" (as in "Flow Tot") marks a totalizer,
// then "Level", "Vel" and "Temp"; anything else logs a flow.
Quantity quantityForLabel(const QString &label);

// Units text of `quantity` as a setup block names it.
QString unitsOf(Quantity quantity);

// The value channel `channel` measuring `quantity` logs at `at`. Totalizers count whole
// cubic feet from `logStart` on top of a per-channel starting reading; other values carry
// a small repeatable jitter and are kept to values a float stores exactly.
double loggedValue(int channel, Quantity quantity, const QDateTime &at, const QDateTime &logStart);

} // namespace ostrand::sim

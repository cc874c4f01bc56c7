#pragma once

#include "channel_setup.h"
#include "circular_log.h"
#include "meter.h"
#include "process_model.h"
#include "sim_options.h"
#include "survey_site.h"

#include <QDateTime>
#include <QVector>
#include <memory>
#include <optional>

namespace ostrand::sim {

// The log and channels an option set describes, before they go into a meter.
struct MeterContents {
    QVector<LogRecord> records;
    QVector<ChannelSetup> channels; // the channels in use, in channel order
    QDateTime logStart;             // first instant (for totals)
    QDateTime lastStamp;            // last instant logged (invalid for an empty log)
    std::optional<SurveyLog> survey; // with --survey: where live logging goes on from
};

// Parses a log file (format in the help text) into records; false with `error` naming
// the file and line when it cannot be read.
bool readLogFile(const QString &path, QVector<LogRecord> *records, QString *error);

// Makes the log and channel setup of `options`, with `now` (meter time) standing in for
// the present when no start is given. False with `error` set when the log cannot be made.
bool makeContents(const SimOptions &options, const QDateTime &now, MeterContents *contents,
                  QString *error);

// The records of one logging instant: one per channel in use, channel order, as meter
// `meterNumber` of a fleet logs them (see meterValueOffset).
QVector<LogRecord> recordsAt(const QVector<ChannelSetup> &channels, const QDateTime &stamp,
                             const QDateTime &logStart, int meterNumber = 1);

// What meter `meterNumber` adds to the values of a channel measuring `quantity`, so that
// the meters of a fleet hold different logs that can still be made again one by one
// (meter 1 adds nothing). Multiples of 1/8 and whole numbers keep values a float stores.
double meterValueOffset(Quantity quantity, int meterNumber);

// A meter holding `contents`, set up as `options` says, started at `now`.
std::unique_ptr<Meter> makeMeter(const SimOptions &options, const MeterContents &contents,
                                 const QDateTime &now);

} // namespace ostrand::sim

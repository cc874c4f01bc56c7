#pragma once

#include "survey/daily_summary.h"

#include <QByteArray>
#include <QString>

namespace ostrand::survey {

// A value as every table, page and file of the survey shows it, so the same
// number reads the same in a PDF and a CSV: up to 4 significant decimals, no
// exponent, "" for NaN. Four decimals, trailing zeros dropped (0.9712, 1234.5);
// below 1, four significant digits (0.0003125), so a small flow never reads 0.
QString surveyNumber(double value);

// The daily table, RFC 4180: "Date,Volume,Volume from total,Min flow,Mean
// flow,Max flow,Min night flow,Readings,Expected,Completeness,Quality", then
// a row of units (volume in volumeUnitFor(flowUnit), flows in flowUnit,
// completeness in %), then a row per day.
QByteArray dailyTableCsv(const SurveySummary &summary, FlowUnit flowUnit);
// "Start,End,Missing intervals", a row per gap, zoned ISO 8601 times in `zone`.
QByteArray gapsCsv(const SurveySummary &summary, const QTimeZone &zone);
// "Hour,Weekday mean,Weekend mean", the units row, 24 rows.
QByteArray diurnalCsv(const DiurnalPattern &pattern, FlowUnit flowUnit);

} // namespace ostrand::survey

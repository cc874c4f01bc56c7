#pragma once

#include "survey/daily_summary.h"
#include "survey/survey_series.h"

#include <QByteArray>
#include <QDate>
#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

namespace ostrand::report {

// Everything a survey report shows of one station over one period.
struct SurveyReportInput {
    QString station;
    survey::SurveySeries series;
    qint64 fromUtcMs = 0; // the period reported, [from, to)
    qint64 toUtcMs = 0;
    survey::SurveySummary summary;  // of series over the period
    survey::DiurnalPattern pattern; // the dry-weather pattern
    std::vector<QDate>
        dryDays; // the days the user marked dry; empty: the pattern is of every Good day
};

// The report as PDF bytes: a heading, a page of hydrographs per week, the
// scattergraph with its fitted values, the daily table, the gaps, the
// completeness and the dry-weather pattern. Text is text, so it can be searched and copied.
// Needs a QGuiApplication (the offscreen platform will do).
QByteArray surveyPdf(const SurveyReportInput &input);

// Writes surveyPdf(input) to `path`, replacing any file there atomically;
// false with *error naming the file and the reason.
bool writeSurveyPdf(const SurveyReportInput &input, const QString &path, QString *error);

// The scattergraph page (title, plot, fitted values) as an image of `size`.
QImage scattergraphPage(const SurveyReportInput &input, QSize size = QSize(1600, 1130));

// Writes scattergraphPage(input, size) to `path` as PNG, atomically; false with *error set.
bool writeScattergraphPng(const SurveyReportInput &input, const QString &path, QString *error,
                          QSize size = QSize(1600, 1130));

} // namespace ostrand::report

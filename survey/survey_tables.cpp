#include "survey_tables.h"

#include <QDateTime>
#include <QStringList>
#include <cmath>

namespace ostrand::survey {

namespace {

// RFC 4180: a field with a comma, a quote or a line break is quoted, its quotes doubled.
QString field(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

void addRow(QByteArray &csv, const QStringList &fields)
{
    QStringList quoted;
    for (const QString &f : fields)
        quoted << field(f);
    csv += quoted.join(u',').toUtf8();
    csv += "\r\n";
}

QString zonedTime(qint64 utcMs, const QTimeZone &zone)
{
    const QTimeZone shown = zone.isValid() ? zone : QTimeZone(0);
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(utcMs, shown);
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString surveyNumber(double value)
{
    if (!std::isfinite(value))
        return {};
    // Small values keep four significant digits, so a night flow in m3/s does not read 0.
    int decimals = 4;
    const double magnitude = std::abs(value);
    if (magnitude > 0 && magnitude < 1)
        decimals = std::min(12, std::max(4, 3 - int(std::floor(std::log10(magnitude)))));
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

QByteArray dailyTableCsv(const SurveySummary &summary, FlowUnit flowUnit)
{
    const VolumeUnit volumeUnit = volumeUnitFor(flowUnit);
    const double perVolume = 1 / toCubicMetres(volumeUnit);
    const double perFlow = 1 / toCubicMetresPerSecond(flowUnit);
    const QString volume = unitName(volumeUnit);
    const QString flow = unitName(flowUnit);
    QByteArray csv;
    addRow(csv,
           {QStringLiteral("Date"), QStringLiteral("Volume"), QStringLiteral("Volume from total"),
            QStringLiteral("Min flow"), QStringLiteral("Mean flow"), QStringLiteral("Max flow"),
            QStringLiteral("Min night flow"), QStringLiteral("Readings"),
            QStringLiteral("Expected"), QStringLiteral("Completeness"), QStringLiteral("Quality")});
    addRow(csv, {QString(), volume, volume, flow, flow, flow, flow, QString(), QString(),
                 QStringLiteral("%"), QString()});
    for (const DaySummary &day : summary.days)
        addRow(csv,
               {day.date.toString(Qt::ISODate), surveyNumber(day.volume * perVolume),
                day.volumeFromTotal ? surveyNumber(*day.volumeFromTotal * perVolume) : QString(),
                surveyNumber(day.minFlow * perFlow), surveyNumber(day.meanFlow * perFlow),
                surveyNumber(day.maxFlow * perFlow), surveyNumber(day.minNightFlow * perFlow),
                QString::number(day.readings), QString::number(day.expected),
                surveyNumber(day.completeness * 100), qualityName(day.quality)});
    return csv;
}

QByteArray gapsCsv(const SurveySummary &summary, const QTimeZone &zone)
{
    QByteArray csv;
    addRow(csv,
           {QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Missing intervals")});
    for (const Gap &gap : summary.gaps)
        addRow(csv, {zonedTime(gap.firstMissingUtcMs, zone), zonedTime(gap.lastMissingUtcMs, zone),
                     QString::number(gap.missingIntervals)});
    return csv;
}

QByteArray diurnalCsv(const DiurnalPattern &pattern, FlowUnit flowUnit)
{
    const double perFlow = 1 / toCubicMetresPerSecond(flowUnit);
    const QString flow = unitName(flowUnit);
    QByteArray csv;
    addRow(csv, {QStringLiteral("Hour"), QStringLiteral("Weekday mean"),
                 QStringLiteral("Weekend mean")});
    addRow(csv, {QString(), flow, flow});
    for (int h = 0; h < 24; ++h)
        addRow(csv, {QString::number(h), surveyNumber(pattern.weekday[h] * perFlow),
                     surveyNumber(pattern.weekend[h] * perFlow)});
    return csv;
}

} // namespace ostrand::survey

#include "meter_setup.h"

#include "process_model.h"

#include <QFile>
#include <QSet>
#include <QTextStream>

namespace ostrand::sim {

namespace {

ChannelSetup channelFor(int channel, const SimOptions &options)
{
    QString label = options.labels.value(channel - 1);
    if (label.isEmpty())
        label = defaultLabel(channel);
    const Quantity quantity = quantityForLabel(label);
    const double spanHigh = quantity == Quantity::Volume        ? 1e7
                            : quantity == Quantity::Temperature ? 120.0
                                                                : 10.0;
    return ChannelSetup{channel, true, label, unitsOf(quantity), 0.0, spanHigh};
}

// The latest instant on the interval grid at or before `now`.
QDateTime floorToInterval(const QDateTime &now, int intervalMinutes)
{
    const QDateTime wall(now.date(), QTime(now.time().hour(), now.time().minute()), Qt::UTC);
    const qint64 minutes = wall.toSecsSinceEpoch() / 60;
    return QDateTime::fromSecsSinceEpoch((minutes - minutes % intervalMinutes) * 60, Qt::UTC);
}

// The four channels of a survey meter, their spans wide enough for a pipe running full.
QVector<ChannelSetup> surveyChannels(const SurveySettings &survey)
{
    const double fullFlowLps = 1e4 * survey.diameterMm * survey.diameterMm / 1e6;
    const QStringList labels = surveyLabels();
    const QStringList units = surveyUnits();
    const double spans[] = {survey.diameterMm, 10.0, fullFlowLps, 1e7};
    QVector<ChannelSetup> out;
    for (int k = 0; k < labels.size(); ++k)
        out << ChannelSetup{k + 1, true, labels[k], units[k], 0.0, spans[k]};
    return out;
}

} // namespace

bool readLogFile(const QString &path, QVector<LogRecord> *records, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    int lineNumber = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(','));
        LogRecord record;
        bool channelOk = false;
        bool valueOk = false;
        if (fields.size() == 3) {
            const QDateTime stamp =
                QDateTime::fromString(fields[0].trimmed(), QStringLiteral("yyyy-MM-dd HH:mm"));
            record.stamp = QDateTime(stamp.date(), stamp.time(), Qt::UTC);
            record.channel = fields[1].trimmed().toInt(&channelOk);
            record.value = fields[2].trimmed().toDouble(&valueOk);
        }
        if (!channelOk || !valueOk || record.channel < 1 || record.channel > kChannelCount ||
            !isStorableStamp(record.stamp)) {
            *error = QStringLiteral("%1:%2: expected \"YYYY-MM-DD HH:MM,channel,value\" "
                                    "(channel 1-8, years 2000-2031), got \"%3\"")
                         .arg(path)
                         .arg(lineNumber)
                         .arg(line);
            return false;
        }
        records->append(record);
    }
    return true;
}

double meterValueOffset(Quantity quantity, int meterNumber)
{
    const int steps = std::max(0, meterNumber - 1);
    return quantity == Quantity::Volume ? 1000.0 * steps : 0.125 * steps;
}

QVector<LogRecord> recordsAt(const QVector<ChannelSetup> &channels, const QDateTime &stamp,
                             const QDateTime &logStart, int meterNumber)
{
    QVector<LogRecord> out;
    for (const ChannelSetup &channel : channels) {
        const Quantity quantity = quantityForLabel(channel.label);
        out.append({channel.channel, stamp,
                    loggedValue(channel.channel, quantity, stamp, logStart) +
                        meterValueOffset(quantity, meterNumber)});
    }
    return out;
}

bool makeContents(const SimOptions &options, const QDateTime &now, MeterContents *contents,
                  QString *error)
{
    MeterContents c;
    if (!options.logFile.isEmpty()) {
        if (!readLogFile(options.logFile, &c.records, error))
            return false;
        QSet<int> used;
        for (const LogRecord &record : c.records)
            used.insert(record.channel);
        for (int k = 1; k <= kChannelCount; ++k) {
            if (used.contains(k))
                c.channels << channelFor(k, options);
        }
        if (options.meterNumber > 1) {
            for (LogRecord &record : c.records) {
                const QString label = options.labels.value(record.channel - 1);
                record.value += meterValueOffset(
                    quantityForLabel(label.isEmpty() ? defaultLabel(record.channel) : label),
                    options.meterNumber);
            }
        }
        if (!c.records.isEmpty()) {
            c.logStart = c.records.first().stamp;
            c.lastStamp = c.records.last().stamp;
        }
    } else {
        if (options.survey.enabled) {
            c.channels = surveyChannels(options.survey);
        } else {
            for (int k = 1; k <= options.channels; ++k)
                c.channels << channelFor(k, options);
        }
        const qint64 step = qint64(options.intervalMinutes) * 60;
        c.logStart = options.start.isValid()
                         ? options.start
                         : floorToInterval(now, options.intervalMinutes)
                               .addSecs(-step * std::max(0, options.records - 1));
        const QDateTime last = c.logStart.addSecs(step * std::max(0, options.records - 1));
        if (options.records > 0 && (!isStorableStamp(c.logStart) || !isStorableStamp(last))) {
            *error = QStringLiteral("The log would run from %1 to %2; a meter stores years "
                                    "%3 to %4 only")
                         .arg(c.logStart.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                              last.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                         .arg(kFirstRecordYear)
                         .arg(kLastRecordYear);
            return false;
        }
        // Only the newest instants fit in the log memory; older ones need not be made.
        const int keepable = CircularLog::kCapacity / int(c.channels.size()) + 1;
        const int first = std::max(0, options.records - keepable);
        c.records.reserve((options.records - first) * c.channels.size());
        if (options.survey.enabled) {
            // Every instant counts toward the total, so the survey walks them all.
            c.survey.emplace(options.survey, c.logStart, options.intervalMinutes,
                             options.meterNumber);
            for (int i = 0; i < options.records; ++i) {
                const QVector<LogRecord> instant =
                    c.survey->recordsAt(c.logStart.addSecs(step * i));
                if (i >= first)
                    c.records += instant;
            }
        } else {
            for (int i = first; i < options.records; ++i)
                c.records += recordsAt(c.channels, c.logStart.addSecs(step * i), c.logStart,
                                       options.meterNumber);
        }
        if (options.records > 0)
            c.lastStamp = last;
    }
    *contents = c;
    return true;
}

std::unique_ptr<Meter> makeMeter(const SimOptions &options, const MeterContents &contents,
                                 const QDateTime &now)
{
    MeterConfig config;
    config.slaveAddress = options.slaveAddress;
    config.portableLayout = options.portable;
    config.intervalMinutes = options.intervalMinutes;
    config.extraAlarmBits = options.alarmBits;
    return std::make_unique<Meter>(config, CircularLog::build(contents.records, options.wrap),
                                   contents.channels, now);
}

} // namespace ostrand::sim

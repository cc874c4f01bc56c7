#include "collection_history.h"

#include "collect/time_text.h"
#include "collect/output_guard.h"

#include <QFileInfo>

#include <QJsonDocument>
#include <QJsonObject>

namespace ostrand::collect {
namespace {

constexpr qint64 kKeptSeconds = 31 * 24 * 3600;

QByteArray runLine(const CollectionRow &run)
{
    QJsonObject object{
        {QStringLiteral("started"), isoUtcText(run.startedUtc)},
        {QStringLiteral("finished"), isoUtcText(run.finishedUtc)},
        {QStringLiteral("result"), run.result},
        {QStringLiteral("newRows"), run.newReadings},
        {QStringLiteral("attempts"), run.attempts},
    };
    if (!run.error.isEmpty())
        object.insert(QStringLiteral("error"), run.error);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool readRun(const QByteArray &line, const QString &station, CollectionRow *run)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    const auto started = instantFromIso(object.value(QStringLiteral("started")).toString());
    const auto finished = instantFromIso(object.value(QStringLiteral("finished")).toString());
    const QString result = object.value(QStringLiteral("result")).toString();
    if (!started || !finished || result.isEmpty())
        return false;
    *run = {station,
            *started,
            *finished,
            result,
            object.value(QStringLiteral("newRows")).toInt(),
            object.value(QStringLiteral("attempts")).toInt(),
            object.value(QStringLiteral("error")).toString()};
    return true;
}

} // namespace

QString historyFilePath(const QString &output)
{
    return output + QStringLiteral(".history");
}

QByteArray historyWithRun(const QByteArray &existing, const CollectionRow &run)
{
    const QDateTime keptFrom = run.startedUtc.addSecs(-kKeptSeconds);
    QList<QByteArray> kept;
    QByteArray lastOkBefore;
    for (const QByteArray &line : existing.split('\n')) {
        CollectionRow held;
        if (!readRun(line, run.station, &held))
            continue;
        if (held.startedUtc >= keptFrom)
            kept << line + '\n';
        else if (held.result == QLatin1String("ok"))
            lastOkBefore = line + '\n';
    }
    return lastOkBefore + kept.join() + runLine(run);
}

std::vector<CollectionRow> historyRuns(const QByteArray &bytes, const QString &station)
{
    std::vector<CollectionRow> runs;
    for (const QByteArray &line : bytes.split('\n')) {
        CollectionRow run;
        if (readRun(line, station, &run))
            runs.push_back(run);
    }
    return runs;
}

StationRow stationRowFromRuns(const QString &name, const std::vector<CollectionRow> &runs)
{
    StationRow row;
    row.name = name;
    for (const CollectionRow &run : runs) {
        if (!row.lastAttemptUtc || run.finishedUtc > *row.lastAttemptUtc)
            row.lastAttemptUtc = run.finishedUtc;
        if (run.result == QLatin1String("ok") && (!row.lastOkUtc || run.finishedUtc > *row.lastOkUtc))
            row.lastOkUtc = run.finishedUtc;
        if (run.result == QLatin1String("failed") && !run.error.isEmpty())
            row.lastError = run.error;
    }
    return row;
}

bool recordRun(const QString &output, const CollectionRow &run, QString *error)
{
    // Kept to the output's own rules: a link or a file planted in a shared
    // folder is refused here as it is for the output.
    const QString path = historyFilePath(output);
    QByteArray existing;
    if ((QFileInfo::exists(path) || QFileInfo(path).isSymLink()) && !readCumulativeFile(path, &existing, error))
        return false;
    return saveCumulativeFile(path, historyWithRun(existing, run), error);
}

} // namespace ostrand::collect

#include "collection_history.h"

#include "store/run_result.h"
#include "store/time_text.h"
#include "cumulative/output_guard.h"
#include "platform/small_file.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <deque>
#include <utility>

namespace ostrand::collect {
namespace {

constexpr qint64 kKeptSeconds = 31 * 24 * 3600;

QByteArray runLine(const CollectionRow &run)
{
    QJsonObject object{
        {QStringLiteral("started"), utcText(run.startedUtc)},
        {QStringLiteral("finished"), utcText(run.finishedUtc)},
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
    const QDateTime started = utcFromText(object.value(QStringLiteral("started")).toString());
    const QDateTime finished = utcFromText(object.value(QStringLiteral("finished")).toString());
    const QString result = object.value(QStringLiteral("result")).toString();
    if (!started.isValid() || !finished.isValid() || result.isEmpty())
        return false;
    *run = {station,
            started,
            finished,
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
    std::deque<std::pair<QByteArray, bool>> kept; // a run's line, and whether it succeeded
    QByteArray lastOkBefore;
    const QByteArray added = runLine(run);
    qsizetype size = added.size();
    for (const QByteArray &line : existing.split('\n')) {
        CollectionRow held;
        if (!readRun(line, run.station, &held))
            continue;
        const bool ok = held.result == runResultText(RunResult::Ok);
        if (held.startedUtc >= keptFrom) {
            kept.emplace_back(line + '\n', ok);
            size += line.size() + 1;
        } else if (ok) {
            lastOkBefore = line + '\n';
        }
    }
    // Never more than a later read takes in, or its oldest runs would be cut
    // without a word; a success let go still stands as the last one before.
    while (!kept.empty() && size + lastOkBefore.size() > kHistoryReadBytes) {
        size -= kept.front().first.size();
        if (kept.front().second)
            lastOkBefore = kept.front().first;
        kept.pop_front();
    }
    QByteArray history = lastOkBefore;
    history.reserve(size + lastOkBefore.size());
    for (const auto &line : kept)
        history += line.first;
    return history + added;
}

HistoryText readHistoryFile(const QString &path)
{
    HistoryText history;
    // One byte more than is kept: the one before the tail tells whether it starts a line.
    FileTail tail = readFileTail(path, kHistoryReadBytes + 1);
    if (tail.check.state == FileState::Missing)
        return history;
    if (!tail.check.ok()) {
        history.ok = false;
        history.error = tail.check.problem;
        return history;
    }
    if (tail.skipped > 0) {
        history.note = QStringLiteral("%1 holds %2 bytes, more than a run history does; only its last %3 were read")
                           .arg(path)
                           .arg(tail.skipped + tail.bytes.size())
                           .arg(sizeText(kHistoryReadBytes));
        const qsizetype firstLineEnd = tail.bytes.indexOf('\n');
        tail.bytes.remove(0, firstLineEnd < 0 ? tail.bytes.size() : firstLineEnd + 1);
    }
    history.bytes = std::move(tail.bytes);
    return history;
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
        if (run.result == runResultText(RunResult::Ok) && (!row.lastOkUtc || run.finishedUtc > *row.lastOkUtc))
            row.lastOkUtc = run.finishedUtc;
        if (run.result == runResultText(RunResult::Failed) && !run.error.isEmpty())
            row.lastError = run.error;
    }
    return row;
}

bool recordRun(const QString &output, const CollectionRow &run, QString *error, QString *note)
{
    // Kept to the output's own rules: a link or a file planted in a shared
    // folder is refused here as it is for the output.
    const QString path = historyFilePath(output);
    if (const QString problem = stationOutputProblem(path); !problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    const HistoryText existing = readHistoryFile(path);
    if (!existing.ok) {
        if (error)
            *error = existing.error;
        return false;
    }
    if (note)
        *note = existing.note;
    return saveCumulativeFile(path, historyWithRun(existing.bytes, run), error);
}

} // namespace ostrand::collect

#include "output_conflicts.h"

#include <QHash>

#include "cumulative/collection_cursor.h"
#include "cumulative/collection_history.h"
#include "platform/file_identity.h"

namespace ostrand::collect {

QString stationsConflict(const std::vector<StationOutput> &stations, const QString &stationsPath)
{
    // Each name looked up once: a fleet of a thousand stations is checked in a
    // thousand lookups, not half a million.
    const QString stationsKey = fileIdentityKey(stationsPath);
    QHash<QString, size_t> seen;
    for (size_t i = 0; i < stations.size(); ++i) {
        const StationOutput &s = stations[i];
        const QString key = fileIdentityKey(s.output);
        if (key == stationsKey)
            return QStringLiteral("%1: station '%2' would write its output %3 over the stations file itself")
                .arg(stationsPath, s.station, s.output);
        if (const auto earlier = seen.constFind(key); earlier != seen.cend()) {
            const StationOutput &other = stations[*earlier];
            return QStringLiteral("%1: stations '%2' and '%3' would write one file: %4 and %5 lead to the same place")
                .arg(stationsPath, other.station, s.station, other.output, s.output);
        }
        seen.insert(key, i);
    }
    return {};
}

QString reportConflict(const QString &reportPath, const std::vector<StationOutput> &stations,
                       const QString &stationsPath)
{
    if (reportPath.isEmpty())
        return {};
    if (sameFile(reportPath, stationsPath))
        return QStringLiteral("--report %1 is the stations file %2; choose another report file")
            .arg(reportPath, stationsPath);
    for (const StationOutput &s : stations) {
        if (sameFile(reportPath, s.output))
            return QStringLiteral("--report %1 is the output of station '%2', %3; choose another report file")
                .arg(reportPath, s.station, s.output);
    }
    return {};
}

QString storeFileOf(const QString &path, const StoreLocation &store)
{
    for (const QString &file : storeFiles(store)) {
        if (sameFile(path, file))
            return file;
    }
    return {};
}

QString storeConflict(const std::vector<StationOutput> &stations, const StoreLocation &store)
{
    for (const StationOutput &s : stations) {
        for (const QString &written : {s.output, cursorFilePath(s.output), historyFilePath(s.output)}) {
            if (const QString file = storeFileOf(written, store); !file.isEmpty())
                return QStringLiteral("station '%1' would write %2 over the store's file %3")
                    .arg(s.station, written, file);
        }
    }
    return {};
}

} // namespace ostrand::collect

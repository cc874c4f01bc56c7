#include "output_conflicts.h"

#include "collect/collection_cursor.h"
#include "collect/collection_history.h"
#include "platform/file_identity.h"

namespace ostrand::collect {

QString stationsConflict(const std::vector<Station> &stations, const QString &stationsPath)
{
    for (size_t i = 0; i < stations.size(); ++i) {
        const Station &s = stations[i];
        if (sameFile(s.output, stationsPath))
            return QStringLiteral("%1: station '%2' would write its output %3 over the stations file itself")
                .arg(stationsPath, s.name, s.output);
        for (size_t j = 0; j < i; ++j) {
            if (sameFile(stations[j].output, s.output))
                return QStringLiteral("%1: stations '%2' and '%3' would write one file: %4 and %5 lead to the same place")
                    .arg(stationsPath, stations[j].name, s.name, stations[j].output, s.output);
        }
    }
    return {};
}

QString reportConflict(const QString &reportPath, const std::vector<Station> &stations,
                       const QString &stationsPath)
{
    if (reportPath.isEmpty())
        return {};
    if (sameFile(reportPath, stationsPath))
        return QStringLiteral("--report %1 is the stations file %2; choose another report file")
            .arg(reportPath, stationsPath);
    for (const Station &s : stations) {
        if (sameFile(reportPath, s.output))
            return QStringLiteral("--report %1 is the output of station '%2', %3; choose another report file")
                .arg(reportPath, s.name, s.output);
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

QString storeConflict(const std::vector<Station> &stations, const StoreLocation &store)
{
    for (const Station &s : stations) {
        for (const QString &written : {s.output, cursorFilePath(s.output), historyFilePath(s.output)}) {
            if (const QString file = storeFileOf(written, store); !file.isEmpty())
                return QStringLiteral("station '%1' would write %2 over the store's file %3")
                    .arg(s.name, written, file);
        }
    }
    return {};
}

} // namespace ostrand::collect

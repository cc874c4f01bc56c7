#pragma once

#include "collect/stations_file.h"

#include <QString>
#include <optional>

namespace ostrand::collect {

// One key of the stations file's [publish] group into `target`: url, ca-file,
// username, password-file, topic, qos; a relative file taken from `baseDir`.
// false with *problem saying what is wrong with it.
bool takePublishKey(PublishTarget &target, const QString &key, const QString &value, const QString &baseDir,
                    QString *problem);

// What the group's keys together, or a station's name, would break once the
// whole file is read; nothing when the target is sound. *key names the key
// at fault, *station the station (empty: the group itself).
struct PublishProblem {
    QString key;
    QString station;
    QString what;
};
std::optional<PublishProblem> publishProblem(const PublishTarget &target, const std::vector<Station> &stations);

// Why publishing cannot run from this stations file with this store (none:
// neither [store] nor --store gave one), or an empty text. The readings are
// published from the store after they are committed, never straight from a
// meter, so a broker that is away neither holds a collection nor loses a reading.
QString publishWithoutStoreProblem(const StationsFile &file, const std::optional<StoreLocation> &store);

} // namespace ostrand::collect

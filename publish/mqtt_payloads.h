#pragma once

#include "health/station_health.h"
#include "store/reading_store.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace ostrand::publish {

// One <topic>/readings message and the outbox entries it carries.
struct ReadingsMessage {
    QByteArray payload;
    std::vector<qint64> outboxIds;
};

// A station's waiting readings as JSON messages of at most `maxBytes` each
// ({"station": ..., "readings": [{"channel", "label", "unit", "time", "value"}]}),
// in the order given. A value that is not a number (NaN, infinite) is null.
std::vector<ReadingsMessage> readingsMessages(const QString &station,
                                              const std::vector<collect::OutboxEntry> &entries, int maxBytes);

// The retained <topic>/status: the station's state as `status` gives it.
QByteArray statusPayload(const collect::StationHealth &health);

// The retained <topic>/last: the newest reading of each channel, by channel.
QByteArray lastPayload(const QString &station, const std::vector<collect::StoredReading> &newestByChannel);

// The topic prefix of a station: `pattern` with {station} replaced.
QString stationTopic(const QString &pattern, const QString &station);

} // namespace ostrand::publish

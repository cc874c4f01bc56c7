#pragma once

#include "collect/stations_file.h"
#include "store/reading_store.h"

#include <QDateTime>
#include <QString>
#include <vector>

namespace ostrand::publish {

// What one publishing pass did.
struct PublishResult {
    bool ok = false;         // the outbox was emptied of what was there when it began
    qint64 published = 0;    // readings the broker acknowledged, now out of the outbox
    qint64 left = 0;         // readings still waiting
    QString error;           // why it stopped: the broker, its address and its reason; empty when ok
    bool storeFailed = false; // it stopped because the store would not answer, not the broker
};

// Publishes what waits in `store`'s outbox to the broker of `target`: each
// station's readings on <topic>/readings (JSON, under 256 KB a message), its
// retained <topic>/status and <topic>/last, at QoS 1; an entry leaves the
// outbox only once the broker has acknowledged the message that carried it.
// A broker down, gone mid-way or refusing the login leaves the rest as it is.
// `stations` gives the topics' names and the status messages' health.
// `clientId` names this publisher to the broker (clientIdFor); empty: one made
// from the target. Never throws; each wait is bounded (connect and every
// acknowledgement 10 s).
PublishResult publishOutbox(const collect::PublishTarget &target, collect::ReadingStore &store,
                            const std::vector<collect::Station> &stations, const QDateTime &nowUtc,
                            qint64 staleAfterSeconds, const QString &clientId = QString());

// The client id of the publisher of one stations file: the same for every run
// from that file ("ostrand-" and a short digest of its absolute path), so the
// broker's log follows one collector.
QString clientIdFor(const QString &stationsPath);

// The largest payload a <topic>/readings message is given.
constexpr int kMaxReadingsPayload = 256 * 1024 - 1;

} // namespace ostrand::publish

#include "mqtt_publisher.h"

#include "health/health_sources.h"
#include "mqtt_connection.h"
#include "mqtt_payloads.h"
#include "store/time_text.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <map>
#include <set>

namespace ostrand::publish {
namespace {

// Read from the outbox at a time: a day of a large fleet, without holding a year of backlog in memory.
constexpr int kOutboxBatch = 50000;
// Acknowledged entries taken out of the outbox together: one transaction each,
// whatever the number of messages; a publisher stopped before it only sends them again.
constexpr size_t kRemoveBatch = 20000;

class Pass {
public:
    Pass(MqttConnection &connection, collect::ReadingStore &store, const collect::PublishTarget &target)
        : m_connection(connection), m_store(store), m_target(target)
    {
    }

    // Every station's readings, batch after batch, until the outbox is empty.
    bool publishReadings(QString *error)
    {
        for (;;) {
            const auto entries = m_store.outbox(QString(), kOutboxBatch, error);
            if (!entries) {
                m_storeFailed = true;
                *error = QStringLiteral("the outbox of %1 could not be read: %2").arg(m_store.name(), *error);
                return false;
            }
            if (entries->empty())
                return true;
            for (const collect::OutboxEntry &entry : *entries) {
                if (m_removed.count(entry.id)) {
                    *error = QStringLiteral("the outbox of %1 still holds readings it was told to let go of")
                                 .arg(m_store.name());
                    return false;
                }
            }
            if (!publishBatch(*entries, error))
                return false;
        }
    }

    // Each station's retained status and newest values.
    bool publishStates(const std::vector<collect::Station> &stations, const QDateTime &nowUtc,
                       qint64 staleAfterSeconds, QString *error)
    {
        std::vector<collect::Station> all = stations;
        for (const auto &[name, newest] : m_newest) {
            if (std::none_of(all.begin(), all.end(), [&](const collect::Station &s) { return s.name == name; })) {
                collect::Station other;
                other.name = name;
                all.push_back(other);
            }
        }
        QString storeError;
        const auto health = collect::healthFromStore(m_store, all, nowUtc, staleAfterSeconds, &storeError);
        if (!health) {
            m_storeFailed = true;
            *error = QStringLiteral("the state of the stations could not be read from %1: %2")
                         .arg(m_store.name(), storeError);
            return false;
        }
        for (collect::StationHealth station : *health) {
            if (const auto memory = m_store.remembered(station.name, &storeError);
                memory && memory->lastReadingUtc)
                station.lastReading = collect::utcText(*memory->lastReadingUtc);
            const QString topic = stationTopic(m_target.topic, station.name);
            if (!m_connection.send(topic + QStringLiteral("/status"), statusPayload(station), true, [] {}, error))
                return false;
            const auto newest = m_newest.find(station.name);
            if (newest == m_newest.end())
                continue;
            std::vector<collect::StoredReading> channels;
            for (const auto &[channel, reading] : newest->second)
                channels.push_back(reading);
            if (!m_connection.send(topic + QStringLiteral("/last"), lastPayload(station.name, channels), true, [] {},
                                   error))
                return false;
        }
        return m_connection.drain(error);
    }

    // Takes out of the outbox what the broker took; false with *error when the store would not.
    bool removeAcknowledged(QString *error)
    {
        if (m_acknowledged.empty())
            return true;
        QString storeError;
        if (!m_store.removeFromOutbox(m_acknowledged, &storeError)) {
            m_storeFailed = true;
            *error = QStringLiteral("%1 readings the broker took stay in the outbox of %2, to be sent again: %3")
                         .arg(m_acknowledged.size())
                         .arg(m_store.name(), storeError);
            m_acknowledged.clear();
            return false;
        }
        m_published += qint64(m_acknowledged.size());
        m_removed.insert(m_acknowledged.begin(), m_acknowledged.end());
        m_acknowledged.clear();
        return true;
    }

    qint64 published() const { return m_published; }
    bool storeFailed() const { return m_storeFailed; }

private:
    bool publishBatch(const std::vector<collect::OutboxEntry> &entries, QString *error)
    {
        // By station, each in the order the outbox gave them.
        std::vector<QString> order;
        std::map<QString, std::vector<collect::OutboxEntry>> byStation;
        for (const collect::OutboxEntry &entry : entries) {
            auto &list = byStation[entry.reading.station];
            if (list.empty())
                order.push_back(entry.reading.station);
            list.push_back(entry);
        }
        for (const QString &station : order) {
            const std::vector<collect::OutboxEntry> &list = byStation[station];
            const QString topic = stationTopic(m_target.topic, station) + QStringLiteral("/readings");
            for (ReadingsMessage &message : readingsMessages(station, list, kMaxReadingsPayload)) {
                auto ids = std::make_shared<std::vector<qint64>>(std::move(message.outboxIds));
                const bool sent = m_connection.send(topic, message.payload, false, [this, ids] {
                    m_acknowledged.insert(m_acknowledged.end(), ids->begin(), ids->end());
                }, error);
                if (!sent)
                    return false;
                if (m_acknowledged.size() >= kRemoveBatch && !removeAcknowledged(error))
                    return false;
            }
            auto &newest = m_newest[station];
            for (const collect::OutboxEntry &entry : list) {
                auto &kept = newest[entry.reading.channel];
                if (!kept.timeUtc.isValid() || entry.reading.timeUtc >= kept.timeUtc)
                    kept = entry.reading;
            }
        }
        return m_connection.drain(error) && removeAcknowledged(error);
    }

    MqttConnection &m_connection;
    collect::ReadingStore &m_store;
    const collect::PublishTarget &m_target;
    std::vector<qint64> m_acknowledged;
    std::set<qint64> m_removed;
    std::map<QString, std::map<int, collect::StoredReading>> m_newest;
    qint64 m_published = 0;
    bool m_storeFailed = false;
};

qint64 waiting(collect::ReadingStore &store)
{
    QString error;
    const auto backlog = store.outboxBacklog(&error);
    qint64 total = 0;
    if (backlog)
        for (const collect::OutboxBacklog &station : *backlog)
            total += station.readings;
    return total;
}

PublishResult publish(const collect::PublishTarget &target, collect::ReadingStore &store,
                      const std::vector<collect::Station> &stations, const QDateTime &nowUtc,
                      qint64 staleAfterSeconds, const QString &clientId)
{
    PublishResult result;
    MqttConnection connection;
    const QString id = clientId.isEmpty() ? clientIdFor(target.url + u' ' + target.topic) : clientId;
    if (connection.open(target, id, &result.error)) {
        Pass pass(connection, store, target);
        QString error;
        pass.publishReadings(&error);
        // What the broker took before it went is let go of all the same.
        QString removeError;
        if (!pass.removeAcknowledged(&removeError) && error.isEmpty())
            error = removeError;
        if (error.isEmpty())
            pass.publishStates(stations, nowUtc, staleAfterSeconds, &error);
        result.published = pass.published();
        result.error = error;
        result.storeFailed = pass.storeFailed();
    }
    result.left = waiting(store);
    result.ok = result.error.isEmpty();
    return result;
}

} // namespace

QString clientIdFor(const QString &stationsPath)
{
    const QString path = QFileInfo(stationsPath).absoluteFilePath();
    const QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
    return QStringLiteral("ostrand-") + QString::fromLatin1(digest);
}

PublishResult publishOutbox(const collect::PublishTarget &target, collect::ReadingStore &store,
                            const std::vector<collect::Station> &stations, const QDateTime &nowUtc,
                            qint64 staleAfterSeconds, const QString &clientId)
{
    try {
        return publish(target, store, stations, nowUtc, staleAfterSeconds, clientId);
    } catch (const std::exception &e) {
        PublishResult failed;
        failed.error = QStringLiteral("%1: publishing stopped: %2").arg(target.url, QString::fromUtf8(e.what()));
        failed.left = waiting(store);
        return failed;
    }
}

} // namespace ostrand::publish

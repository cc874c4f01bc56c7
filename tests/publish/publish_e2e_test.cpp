#include "cli_run.h"
#include "file_bytes.h"
#include "metersim_process.h"
#include "mosquitto_process.h"
#include "publish/mqtt_payloads.h"
#include "store/reading_store.h"
#include "store/store_open.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

// What a consumer keys a reading by, and its value: (station, channel, time, value).
using Key = std::tuple<std::string, int, std::string, double>;

std::multiset<Key> receivedReadings(const std::vector<MqttSubscriber::Message> &messages)
{
    std::multiset<Key> readings;
    for (const auto &message : messages) {
        if (!message.topic.endsWith(u"/readings"))
            continue;
        const QJsonObject object = QJsonDocument::fromJson(message.payload).object();
        for (const QJsonValue &value : object.value(u"readings").toArray()) {
            const QJsonObject r = value.toObject();
            readings.insert({object.value(u"station").toString().toStdString(), r.value(u"channel").toInt(),
                             r.value(u"time").toString().toStdString(), r.value(u"value").toDouble()});
        }
    }
    return readings;
}

std::set<Key> distinct(const std::multiset<Key> &keys)
{
    return {keys.begin(), keys.end()};
}

std::set<Key> storedReadings(const QString &dbPath, const QStringList &stations)
{
    QString error;
    const auto store = openStoreReader("sqlite:" + dbPath, QString(), &error);
    EXPECT_TRUE(store) << qPrintable(error);
    std::set<Key> keys;
    for (const QString &station : stations) {
        ReadingQuery query;
        query.station = station;
        const auto readings = store ? store->readings(query, &error) : std::nullopt;
        EXPECT_TRUE(readings) << qPrintable(error);
        for (const StoredReading &r : readings.value_or(std::vector<StoredReading>{}))
            keys.insert({r.station.toStdString(), r.channel, r.timeUtc.toString(Qt::ISODate).toStdString(), r.value});
    }
    return keys;
}

qint64 waitingInOutbox(const QString &dbPath)
{
    QString error;
    const auto store = openStoreReader("sqlite:" + dbPath, QString(), &error);
    const auto backlog = store ? store->outboxBacklog(&error) : std::nullopt;
    EXPECT_TRUE(backlog) << qPrintable(error);
    qint64 total = 0;
    for (const OutboxBacklog &station : backlog.value_or(std::vector<OutboxBacklog>{}))
        total += station.readings;
    return total;
}

// Two simulated meters and a stations file with a SQLite store and `publish` as its [publish] group.
struct Fleet {
    QTemporaryDir dir;
    MeterSimProcess north;
    MeterSimProcess south;
    QString stations = dir.filePath("stations.ini");
    QString db = dir.filePath("store.db");

    bool start(const QByteArray &publish, int records = 24)
    {
        const QStringList log{"--records", QString::number(records), "--channels", "3"};
        if (!north.start(dir.path(), log, "COM1") || !south.start(dir.path(), log, "COM2"))
            return false;
        writeFileBytes(stations, "[store]\nurl = sqlite:store.db\n\n[publish]\n" + publish + "\n[north pump]\nport = "
                                     + north.linkPath().toUtf8() + "\noutput = north.csv\ntimezone = Europe/London\n"
                                     + "\n[south weir]\nport = " + south.linkPath().toUtf8()
                                     + "\noutput = south.csv\ntimezone = America/Chicago\n");
        return true;
    }
    std::set<Key> stored() { return storedReadings(db, {"north pump", "south weir"}); }
};

auto holdsAll(size_t count)
{
    return [count](const std::vector<MqttSubscriber::Message> &messages) {
        return distinct(receivedReadings(messages)).size() >= count;
    };
}

QString secretFile(const QTemporaryDir &dir, const QByteArray &password)
{
    const QString path = dir.filePath("broker-password");
    writeFileBytes(path, password + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

} // namespace

TEST(PublishE2e, everyCollectedReadingReachesTheSubscriberExactlyAsStoredWithRetainedStatusAndLastValues)
{
    MosquittoProcess broker;
    ASSERT_TRUE(broker.start()) << qPrintable(broker.problem());
    MqttSubscriber subscriber;
    ASSERT_TRUE(subscriber.start(broker.port()));
    Fleet fleet;
    ASSERT_TRUE(fleet.start("url = " + broker.url().toUtf8() + "\n"));

    const CliRun run = runCli({"collect", "--stations", fleet.stations});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    const std::set<Key> stored = fleet.stored();
    ASSERT_EQ(stored.size(), 2u * 24 * 3);
    ASSERT_TRUE(subscriber.waitUntil(holdsAll(stored.size()), 10000)) << qPrintable(run.errors);
    const auto messages = subscriber.messages();
    const std::multiset<Key> received = receivedReadings(messages);
    EXPECT_EQ(received.size(), stored.size()) << "each reading once when nothing went wrong";
    EXPECT_EQ(distinct(received), stored);
    EXPECT_EQ(waitingInOutbox(fleet.db), 0);

    // Status and newest values come after the readings, and are kept by the broker for a newcomer.
    MqttSubscriber late;
    ASSERT_TRUE(late.start(broker.port(), "flow/north pump/#"));
    ASSERT_TRUE(late.waitUntil([](const auto &m) { return m.size() >= 2; }, 5000));
    std::map<QString, QJsonObject> retained;
    for (const auto &message : late.messages())
        retained[message.topic] = QJsonDocument::fromJson(message.payload).object();
    ASSERT_TRUE(retained.count("flow/north pump/status"));
    ASSERT_TRUE(retained.count("flow/north pump/last"));
    const QJsonObject status = retained["flow/north pump/status"];
    EXPECT_EQ(status.value(u"station").toString(), "north pump");
    EXPECT_TRUE(status.value(u"lastError").isNull());
    const std::string newest = std::get<2>(*std::max_element(stored.begin(), stored.end(), [](const Key &a, const Key &b) {
        return std::get<0>(a) != "north pump" || (std::get<0>(b) == "north pump" && std::get<2>(a) < std::get<2>(b));
    }));
    EXPECT_EQ(status.value(u"lastReading").toString().toStdString(), newest);
    const QJsonArray channels = retained["flow/north pump/last"].value(u"channels").toArray();
    ASSERT_EQ(channels.size(), 3);
    for (const QJsonValue &channel : channels)
        EXPECT_EQ(channel.toObject().value(u"time").toString().toStdString(), newest);
}

TEST(PublishE2e, aBrokerDownLeavesTheCollectionAloneAndPublishSendsTheOutboxOnceItIsBack)
{
    MosquittoProcess broker;
    ASSERT_TRUE(broker.start()) << qPrintable(broker.problem());
    broker.stop();
    Fleet fleet;
    ASSERT_TRUE(fleet.start("url = " + broker.url().toUtf8() + "\n"));

    const CliRun collected = runCli({"collect", "--stations", fleet.stations});
    EXPECT_EQ(collected.exitCode, 0) << qPrintable(collected.errors);
    EXPECT_TRUE(fleet.north.waitFor("confirmed", 1, 2000) && fleet.south.waitFor("confirmed", 1, 2000))
        << "both meters told, broker or not";
    EXPECT_TRUE(collected.errors.contains("144 left waiting in the outbox")) << qPrintable(collected.errors);
    EXPECT_EQ(waitingInOutbox(fleet.db), 144);

    const CliRun refused = runCli({"publish", "--stations", fleet.stations});
    EXPECT_EQ(refused.exitCode, 8);
    EXPECT_TRUE(refused.errors.contains(broker.url())) << qPrintable(refused.errors);
    EXPECT_EQ(refused.lines, QStringList{"published 0 readings to " + broker.url() + ", 144 waiting"});

    ASSERT_TRUE(broker.restart()) << qPrintable(broker.problem());
    MqttSubscriber subscriber;
    ASSERT_TRUE(subscriber.start(broker.port()));
    const CliRun published = runCli({"publish", "--stations", fleet.stations});
    EXPECT_EQ(published.exitCode, 0) << qPrintable(published.errors);
    EXPECT_EQ(published.lines, QStringList{"published 144 readings to " + broker.url() + ", 0 waiting"});
    ASSERT_TRUE(subscriber.waitUntil(holdsAll(144), 10000));
    EXPECT_EQ(distinct(receivedReadings(subscriber.messages())), fleet.stored());
    EXPECT_EQ(waitingInOutbox(fleet.db), 0);
}

TEST(PublishE2e, aBrokerKilledMidPublishLosesNothingAndTheNextPublishEmptiesTheOutbox)
{
    // A backlog of many messages, stored as a collection stores it.
    QTemporaryDir dir;
    const QString db = dir.filePath("store.db");
    QString error;
    const auto store = openReadingStore(*parseStoreUrl("sqlite:" + db, QString(), &error), &error);
    ASSERT_TRUE(store) << qPrintable(error);
    const QDateTime start(QDate(2026, 11, 1), QTime(0, 0), Qt::UTC);
    QStringList names;
    for (int s = 0; s < 300; ++s) {
        StationWrite write;
        write.publish = true;
        write.station.name = QStringLiteral("station-%1").arg(s);
        names << write.station.name;
        write.collection = {write.station.name, start, start, "ok", 0, 1, {}};
        for (int i = 0; i < 96; ++i)
            for (int k = 1; k <= 3; ++k)
                write.readings.push_back({write.station.name, k, "Flow", "l/s", start.addSecs(i * 900),
                                          QString(), s + i / 4.0 + k});
        ASSERT_TRUE(store->write(write, &error)) << qPrintable(error);
    }
    const std::set<Key> stored = storedReadings(db, names);
    ASSERT_EQ(stored.size(), 300u * 96 * 3);

    MosquittoProcess broker;
    ASSERT_TRUE(broker.start()) << qPrintable(broker.problem());
    const QString stations = dir.filePath("stations.ini");
    writeFileBytes(stations, "[store]\nurl = sqlite:store.db\n\n[publish]\nurl = " + broker.url().toUtf8()
                                 + "\n\n[station-0]\nport = /dev/null\noutput = s0.csv\n");
    auto subscriber = std::make_unique<MqttSubscriber>();
    ASSERT_TRUE(subscriber->start(broker.port()));
    QProcess first;
    first.start(QStringLiteral(OSTRAND_CLI), {"publish", "--stations", stations});
    ASSERT_TRUE(subscriber->waitUntil([](const auto &m) { return m.size() >= 5; }, 10000));
    broker.kill();
    ASSERT_TRUE(first.waitForFinished(30000));
    const QByteArray firstSaid = first.readAllStandardOutput() + first.readAllStandardError();
    EXPECT_EQ(first.exitCode(), 8) << firstSaid.toStdString();
    const qint64 left = waitingInOutbox(db);
    EXPECT_GT(left, 0) << "killed mid-way, something was left";
    EXPECT_LT(left, qint64(stored.size())) << "what the broker took before it went is out of the outbox: "
                                           << firstSaid.toStdString();
    std::multiset<Key> received = receivedReadings(subscriber->messages());
    subscriber.reset();

    ASSERT_TRUE(broker.restart()) << qPrintable(broker.problem());
    MqttSubscriber again;
    ASSERT_TRUE(again.start(broker.port()));
    const CliRun second = runCli({"publish", "--stations", stations});
    EXPECT_EQ(second.exitCode, 0) << qPrintable(second.errors);
    EXPECT_EQ(waitingInOutbox(db), 0);
    const auto all = [&](const std::vector<MqttSubscriber::Message> &m) {
        std::set<Key> union_ = distinct(received);
        const std::multiset<Key> more = receivedReadings(m);
        union_.insert(more.begin(), more.end());
        return union_.size() >= stored.size();
    };
    EXPECT_TRUE(again.waitUntil(all, 20000));
    const std::multiset<Key> more = receivedReadings(again.messages());
    received.insert(more.begin(), more.end());
    EXPECT_EQ(distinct(received), stored) << "every reading at least once";
}

TEST(PublishE2e, aWrongPasswordIsNamedAndTheReadingsWaitUntilTheRightOne)
{
    MosquittoProcess broker;
    ASSERT_TRUE(broker.start({"collector", "right horse battery", false})) << qPrintable(broker.problem());
    Fleet fleet;
    const QString password = secretFile(fleet.dir, "wrong staple");
    ASSERT_TRUE(fleet.start("url = " + broker.url().toUtf8() + "\nusername = collector\npassword-file = "
                            + password.toUtf8() + "\n"));
    const CliRun collected = runCli({"collect", "--stations", fleet.stations});
    EXPECT_EQ(collected.exitCode, 0) << qPrintable(collected.errors);
    EXPECT_TRUE(collected.errors.contains("refused the login: bad user name or password")
                || collected.errors.contains("not authorised"))
        << qPrintable(collected.errors);
    EXPECT_EQ(waitingInOutbox(fleet.db), 144);

    // A password every user may read is refused before the broker is asked.
    QFile::setPermissions(password, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const CliRun open = runCli({"publish", "--stations", fleet.stations});
    EXPECT_EQ(open.exitCode, 8);
    EXPECT_TRUE(open.errors.contains("can be read by every user")) << qPrintable(open.errors);

    secretFile(fleet.dir, "  right horse battery  ");
    MqttSubscriber subscriber;
    ASSERT_TRUE(subscriber.start(broker.port(), "flow/#", "collector", "right horse battery"));
    const CliRun published = runCli({"publish", "--stations", fleet.stations});
    EXPECT_EQ(published.exitCode, 0) << qPrintable(published.errors);
    ASSERT_TRUE(subscriber.waitUntil(holdsAll(144), 10000));
    EXPECT_EQ(distinct(receivedReadings(subscriber.messages())), fleet.stored());
    EXPECT_EQ(waitingInOutbox(fleet.db), 0);
}

TEST(PublishE2e, mqttsPublishesToABrokerWhoseCertificateTheCaFileVouchesForAndRefusesAnotherAuthority)
{
    MosquittoProcess broker;
    ASSERT_TRUE(broker.start({{}, {}, true})) << qPrintable(broker.problem());
    MosquittoProcess stranger; // another authority, whose CA does not vouch for this broker
    ASSERT_TRUE(stranger.start({{}, {}, true})) << qPrintable(stranger.problem());
    Fleet fleet;
    ASSERT_TRUE(fleet.start("url = " + broker.tlsUrl().toUtf8() + "\nca-file = " + stranger.caFile().toUtf8() + "\n"));
    const CliRun collected = runCli({"collect", "--stations", fleet.stations});
    EXPECT_EQ(collected.exitCode, 0) << qPrintable(collected.errors);
    EXPECT_EQ(waitingInOutbox(fleet.db), 144) << "nothing sent to a broker that could not prove itself";

    writeFileBytes(fleet.stations, readFileBytes(fleet.stations).replace(stranger.caFile().toUtf8(),
                                                                         broker.caFile().toUtf8()));
    MqttSubscriber subscriber;
    ASSERT_TRUE(subscriber.start(broker.port()));
    const CliRun published = runCli({"publish", "--stations", fleet.stations});
    EXPECT_EQ(published.exitCode, 0) << qPrintable(published.errors);
    ASSERT_TRUE(subscriber.waitUntil(holdsAll(144), 10000));
    EXPECT_EQ(distinct(receivedReadings(subscriber.messages())), fleet.stored());
}

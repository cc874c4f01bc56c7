// A fleet's day on to an MQTT broker: 1,000 stations x 96 instants x 3
// channels (288,000 readings) put into a SQLite store's outbox as collections
// put them, then published to a mosquitto this program starts on 127.0.0.1 and
// received by a subscriber (mosquitto_sub), against a goal of 10 s from the
// first message sent to the last reading received. Run by hand:
//   BUILD/bench/publish_bench

#include "mosquitto_process.h"
#include "publish/mqtt_publisher.h"
#include "store/reading_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

using namespace ostrand::collect;
using namespace ostrand::testing;

namespace {

constexpr int kStations = 1000;
constexpr int kInstants = 96;
constexpr int kChannels = 3;
constexpr double kGoalSeconds = 10;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QString error;
    const auto location = parseStoreUrl("sqlite:" + dir.filePath("store.db"), QString(), &error);
    const auto store = location ? openReadingStore(*location, &error) : nullptr;
    if (!store) {
        std::fprintf(stderr, "no store: %s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const QDateTime start(QDate(2026, 11, 1), QTime(0, 0), Qt::UTC);
    std::vector<Station> stations;
    for (int s = 0; s < kStations; ++s) {
        StationWrite write;
        write.publish = true;
        write.station.name = QStringLiteral("station-%1").arg(s, 4, 10, QLatin1Char('0'));
        write.station.lastOkUtc = start.addDays(1);
        write.collection = {write.station.name, start, start.addDays(1), "ok", 0, 1, {}};
        for (int i = 0; i < kInstants; ++i)
            for (int k = 1; k <= kChannels; ++k)
                write.readings.push_back({write.station.name, k, QStringLiteral("Flow %1").arg(k), "l/s",
                                          start.addSecs(i * 900), QString(), s + i * 0.25 + k});
        if (!store->write(write, &error)) {
            std::fprintf(stderr, "not stored: %s\n", qPrintable(error));
            return 1;
        }
        Station station;
        station.name = write.station.name;
        stations.push_back(station);
    }
    const double storeSeconds = timer.nsecsElapsed() / 1e9;

    MosquittoProcess broker;
    MqttSubscriber subscriber;
    if (!broker.start() || !subscriber.start(broker.port())) {
        std::fprintf(stderr, "no broker: %s\n", qPrintable(broker.problem()));
        return 1;
    }
    PublishTarget target;
    target.url = broker.url();

    timer.start();
    ostrand::publish::PublishResult result;
    double publishSeconds = 0;
    std::thread publisher([&] {
        result = ostrand::publish::publishOutbox(target, *store, stations, start.addDays(1), 26 * 3600,
                                                 QStringLiteral("ostrand-bench"));
        publishSeconds = timer.nsecsElapsed() / 1e9;
    });
    qint64 received = 0;
    size_t counted = 0;
    const qint64 total = qint64(kStations) * kInstants * kChannels;
    subscriber.waitUntil(
        [&](const std::vector<MqttSubscriber::Message> &messages) {
            for (; counted < messages.size(); ++counted) {
                if (messages[counted].topic.endsWith(u"/readings"))
                    received += QJsonDocument::fromJson(messages[counted].payload)
                                    .object()
                                    .value(u"readings")
                                    .toArray()
                                    .size();
            }
            return received >= total;
        },
        60000);
    const double receivedSeconds = timer.nsecsElapsed() / 1e9;
    publisher.join();

    std::printf("stations %d x instants %d x channels %d = %lld readings\n", kStations, kInstants, kChannels,
                static_cast<long long>(total));
    std::printf("stored with their outbox:  %.2f s\n", storeSeconds);
    std::printf("published and acknowledged: %.2f s (%lld readings, %lld left%s%s)\n", publishSeconds,
                static_cast<long long>(result.published), static_cast<long long>(result.left),
                result.ok ? "" : ", ", qPrintable(result.error));
    std::printf("received by the subscriber: %.2f s (%lld readings)\n", receivedSeconds,
                static_cast<long long>(received));
    std::printf("goal: under %.0f s: %s\n", kGoalSeconds,
                received >= total && receivedSeconds < kGoalSeconds ? "met" : "NOT met");
    return received >= total && result.ok ? 0 : 1;
}

#include "cli_common.h"
#include "collect/stations_file.h"
#include "command_registry.h"
#include "publish/mqtt_publisher.h"
#include "store/reading_store.h"

#include <QCommandLineParser>

namespace ostrand::cli {

int runPublishCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "publish",
    "  publish --stations FILE\n"
    "      Publishes the readings that wait in the outbox of FILE's store to the\n"
    "      MQTT broker of its [publish] group (url = mqtt://HOST:PORT or\n"
    "      mqtts://HOST:PORT with ca-file, username, password-file, topic =\n"
    "      flow/{station}, qos = 1): each station's readings as JSON on\n"
    "      TOPIC/readings, then its retained TOPIC/status and TOPIC/last. A reading\n"
    "      leaves the outbox only once the broker has acknowledged it; a broker\n"
    "      that is down, goes away or refuses the login leaves the rest waiting\n"
    "      for the next collect or publish. collect does the same after its\n"
    "      stations when FILE has [publish]. Prints how many readings were\n"
    "      published and how many wait; see mqtt.md.\n"
    "      Exit status: 0 the outbox emptied; 8 the broker could not take them\n"
    "      (the reason on stderr); 7 the store could not be opened or read; 64\n"
    "      bad usage, a bad stations file, or one without [publish] or [store].\n",
    25, &runPublishCommand}};

// As status judges it, for the retained state of each station.
constexpr qint64 kStaleAfterSeconds = 26 * 3600;

} // namespace

int runPublishCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("stations"), QStringLiteral("The stations file."), QStringLiteral("FILE")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    const QString stationsPath = parser.value(QStringLiteral("stations"));
    if (stationsPath.isEmpty())
        return usageError(QStringLiteral("publish needs --stations"));
    QString error;
    const auto now = commandNowUtc(&error);
    if (!now)
        return usageError(error);
    const collect::StationsFile file = collect::readStationsFile(stationsPath);
    if (!file.error.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + file.error);
        return code(ExitStatus::Usage);
    }
    if (!file.publish)
        return usageError(QStringLiteral("%1 has no [publish] group: nowhere to publish to").arg(stationsPath));
    if (!file.store)
        return usageError(QStringLiteral("%1 has no [store] group: publishing sends what the store keeps").arg(stationsPath));
    const auto store = collect::openReadingStore(*file.store, &error);
    if (!store) {
        printDetail(QStringLiteral("ostrand-cli: %1").arg(error));
        return code(ExitStatus::StoreFailed);
    }
    const publish::PublishResult result = publish::publishOutbox(*file.publish, *store, file.stations, *now,
                                                                 kStaleAfterSeconds, publish::clientIdFor(stationsPath));
    printLine(QStringLiteral("published %1 readings to %2, %3 waiting")
                  .arg(result.published)
                  .arg(file.publish->url)
                  .arg(result.left));
    if (result.ok)
        return code(ExitStatus::Done);
    printDetail(QStringLiteral("ostrand-cli: ") + result.error);
    return code(result.storeFailed ? ExitStatus::StoreFailed : ExitStatus::BrokerFailed);
}

} // namespace ostrand::cli

#include "publish_group.h"

#include <QDir>
#include <QRegularExpression>

namespace ostrand::collect {
namespace {

// The characters MQTT gives a meaning in a topic: a level's end and the wildcards.
constexpr char kTopicCharacters[] = "+#/";

QString fileFrom(const QString &baseDir, const QString &value)
{
    return QDir::cleanPath(QDir(baseDir).absoluteFilePath(value));
}

bool urlTaken(PublishTarget &target, const QString &value, QString *problem)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^(mqtts?)://(?:\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9.\-_]+):([0-9]{1,5})$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(value);
    const int port = match.hasMatch() ? match.captured(2).toInt() : 0;
    if (port < 1 || port > 65535) {
        *problem = QStringLiteral("'%1' is not mqtt://HOST:PORT or mqtts://HOST:PORT (a broker's address and port, "
                                  "nothing after them)")
                       .arg(value);
        return false;
    }
    target.url = match.captured(1).toLower() + value.mid(match.capturedLength(1));
    return true;
}

bool topicTaken(PublishTarget &target, const QString &value, QString *problem)
{
    for (const char c : {'+', '#'}) {
        if (value.contains(QLatin1Char(c))) {
            *problem = QStringLiteral("'%1' holds '%2', a wildcard: a topic published to is a name, not a "
                                      "pattern")
                           .arg(value, QString(QLatin1Char(c)));
            return false;
        }
    }
    if (!value.contains(QLatin1String("{station}"))) {
        *problem = QStringLiteral("'%1' has no {station}: every station's retained status and last values "
                                  "would replace the others'")
                       .arg(value);
        return false;
    }
    if (value.startsWith(u'$')) {
        *problem = QStringLiteral("'%1' begins with '$': brokers keep those topics for themselves").arg(value);
        return false;
    }
    target.topic = value;
    return true;
}

bool qosTaken(PublishTarget &target, const QString &value, QString *problem)
{
    if (value == QLatin1String("1")) {
        target.qos = 1;
        return true;
    }
    if (value == QLatin1String("0"))
        *problem = QStringLiteral("qos 0 is not taken: the broker would not acknowledge the readings, so they "
                                  "would leave the outbox unconfirmed and a broker going away would lose them; "
                                  "qos = 1");
    else if (value == QLatin1String("2"))
        *problem = QStringLiteral("qos 2 is not taken: a reading may be sent again whatever the qos (it leaves "
                                  "the outbox only once acknowledged, and a run stopped before that sends it "
                                  "again), so consumers drop repeats by station, channel and time and qos 2's "
                                  "second round trip gains nothing; qos = 1");
    else
        *problem = QStringLiteral("takes 1 (at least once)");
    return false;
}

} // namespace

bool takePublishKey(PublishTarget &target, const QString &key, const QString &value, const QString &baseDir,
                    QString *problem)
{
    if (key == QLatin1String("url"))
        return urlTaken(target, value, problem);
    if (key == QLatin1String("topic"))
        return topicTaken(target, value, problem);
    if (key == QLatin1String("qos"))
        return qosTaken(target, value, problem);
    const bool file = key == QLatin1String("ca-file") || key == QLatin1String("password-file");
    if (!file && key != QLatin1String("username")) {
        *problem = QStringLiteral("unknown key in [publish] (url, ca-file, username, password-file, topic, qos)");
        return false;
    }
    if (value.isEmpty()) {
        *problem = file ? QStringLiteral("needs a file name") : QStringLiteral("needs a name");
        return false;
    }
    if (key == QLatin1String("ca-file"))
        target.caFile = fileFrom(baseDir, value);
    else if (key == QLatin1String("password-file"))
        target.passwordFile = fileFrom(baseDir, value);
    else
        target.username = value;
    return true;
}

std::optional<PublishProblem> publishProblem(const PublishTarget &target, const std::vector<Station> &stations)
{
    if (!target.caFile.isEmpty() && !target.url.startsWith(QLatin1String("mqtts://")))
        return PublishProblem{QStringLiteral("ca-file"), {},
                              QStringLiteral("is for mqtts:// (TLS); %1 is not encrypted").arg(target.url)};
    if (!target.passwordFile.isEmpty() && target.username.isEmpty())
        return PublishProblem{QStringLiteral("password-file"), {},
                              QStringLiteral("goes with username: a broker takes a password with a user name")};
    for (const Station &s : stations) {
        for (const char c : kTopicCharacters) {
            if (c != '\0' && s.name.contains(QLatin1Char(c)))
                return PublishProblem{{}, s.name,
                                      QStringLiteral("the station name '%1' holds '%2', which would break its MQTT "
                                                     "topics ([publish]): rename the station")
                                          .arg(s.name, QString(QLatin1Char(c)))};
        }
    }
    return std::nullopt;
}

QString publishWithoutStoreProblem(const StationsFile &file, const std::optional<StoreLocation> &store)
{
    if (!file.publish || store)
        return {};
    return QStringLiteral("[publish] needs a store: the readings are published from it once stored, so a broker "
                          "that is away never holds a collection nor loses a reading; give [store] url in the "
                          "stations file or --store");
}

} // namespace ostrand::collect

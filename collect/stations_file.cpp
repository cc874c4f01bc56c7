#include "stations_file.h"

#include "collect/publish_group.h"

#include "line/line_options.h"
#include "line/line_values.h"
#include "link/dial_string.h"
#include "platform/com_port_names.h"
#include "platform/network_endpoint.h"
#include "platform/small_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace ostrand::collect {
namespace {

// A value ends where a comment begins: ';' or '#' at the start or after a blank.
QString withoutComment(const QString &line)
{
    for (int i = 0; i < line.size(); ++i) {
        if ((line[i] == u';' || line[i] == u'#') && (i == 0 || line[i - 1].isSpace()))
            return line.left(i);
    }
    return line;
}

// A router's registration is up to about 100 bytes.
constexpr int kMaxCallInIdBytes = 128;
// Shorter, a heartbeat would turn up in a meter's data too often.
constexpr int kMinHeartbeatBytes = 4;

// A stations file is a few lines a meter; anything far larger is not one.
constexpr qint64 kMaxStationsFileBytes = 1024 * 1024;

// The first control character in `text` by its code, empty when there is none.
// A NUL would cut a path short at the file system, a carriage return end a
// modem command early, an escape act on the terminal showing the error.
QString controlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    }
    return {};
}

struct Reader {
    QString fileName;
    QString baseDir;
    QString error;

    bool fail(int line, const QString &key, const QString &what)
    {
        error = key.isEmpty() ? QStringLiteral("%1:%2: %3").arg(fileName).arg(line).arg(what)
                              : QStringLiteral("%1:%2: key '%3': %4").arg(fileName).arg(line).arg(key, what);
        return false;
    }

    bool take(Station &s, int line, const QString &key, const QString &value)
    {
        for (const LineKey lineKey : kMeterLineKeys) {
            if (key != lineKeyName(lineKey))
                continue;
            if (!takeLineValue(s.lineChoice, lineKey, value))
                return fail(line, key, stationsKeyProblem(lineKey, value));
            if (lineKey == LineKey::Port && !s.lineChoice.devicePath.isEmpty())
                s.lineChoice.devicePath = QDir(baseDir).absoluteFilePath(s.lineChoice.devicePath);
            return true;
        }
        if (key == QLatin1String("dial")) {
            if (value.isEmpty())
                return fail(line, key, QStringLiteral("needs a number"));
            if (const QString problem = dialStringProblem(value); !problem.isEmpty())
                return fail(line, key, problem);
            s.dial = value;
        } else if (key == QLatin1String("portable")) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                return fail(line, key, QStringLiteral("takes true or false"));
            s.portable = value == QLatin1String("true");
        } else if (key == QLatin1String("output")) {
            if (value.isEmpty())
                return fail(line, key, QStringLiteral("needs a file name"));
            s.output = QDir::cleanPath(QDir(baseDir).absoluteFilePath(value));
        } else if (key == QLatin1String("timezone")) {
            if (!QTimeZone::isTimeZoneIdAvailable(value.toUtf8()))
                return fail(line, key, QStringLiteral("'%1' is no time zone this machine knows (an Area/City name "
                                                      "such as Europe/London)")
                                           .arg(value));
            s.timezone = value.toUtf8();
        } else if (key == QLatin1String("clock")) {
            if (value != QLatin1String("local") && value != QLatin1String("standard"))
                return fail(line, key, QStringLiteral("takes local or standard"));
            s.clock = value == QLatin1String("local") ? MeterClock::Local : MeterClock::Standard;
        } else if (key == QLatin1String("call-in")) {
            QString problem;
            const QByteArray id = callInBytes(value, &problem);
            if (id.isEmpty())
                return fail(line, key, problem);
            if (id.size() > kMaxCallInIdBytes)
                return fail(line, key, QStringLiteral("an ID is at most %1 bytes").arg(kMaxCallInIdBytes));
            callIn(s).id = id;
        } else if (key == QLatin1String("call-in-id")) {
            if (value != QLatin1String("first") && value != QLatin1String("every"))
                return fail(line, key, QStringLiteral("takes first or every"));
            callIn(s).idEveryPacket = value == QLatin1String("every");
        } else if (key == QLatin1String("heartbeat")) {
            QString problem;
            const QByteArray heartbeat = callInBytes(value, &problem);
            if (heartbeat.isEmpty())
                return fail(line, key, problem);
            // Shorter, it would turn up in a meter's data too often to be taken out safely.
            if (heartbeat.size() < kMinHeartbeatBytes || heartbeat.size() > kMaxCallInIdBytes)
                return fail(line, key, QStringLiteral("a heartbeat is %1 to %2 bytes")
                                           .arg(kMinHeartbeatBytes)
                                           .arg(kMaxCallInIdBytes));
            callIn(s).heartbeat = heartbeat;
        } else if (key == QLatin1String("call-in-from")) {
            const auto subnet = QHostAddress::parseSubnet(value);
            if (subnet.first.isNull())
                return fail(line, key, QStringLiteral("takes an address and a prefix length: 10.1.2.0/24, "
                                                      "198.51.100.7/32"));
            callIn(s).from = subnet;
        } else if (key == QLatin1String("interval")) {
            QString problem;
            const auto ms = intervalMs(value, &problem);
            if (!ms)
                return fail(line, key, problem);
            s.intervalMs = *ms;
        } else {
            QString problem;
            switch (survey::takeSurveyKey(s.survey, key, value, &problem)) {
            case survey::KeyTaken::Taken:
                return true;
            case survey::KeyTaken::Refused:
                return fail(line, key, problem);
            case survey::KeyTaken::NotASurveyKey:
                break;
            }
            QStringList surveyKeys;
            for (const char *name : survey::surveyKeyNames())
                surveyKeys << QLatin1String(name);
            return fail(line, key,
                        QStringLiteral("unknown key (port, baud, slave, reply-timeout, connect-timeout, request-gap, "
                                       "echo, dial, portable, output, timezone, clock, call-in, call-in-id, "
                                       "heartbeat, call-in-from, interval, %1)")
                            .arg(surveyKeys.join(QStringLiteral(", "))));
        }
        return true;
    }

    static CallIn &callIn(Station &s)
    {
        if (!s.callIn)
            s.callIn.emplace();
        return *s.callIn;
    }

    bool takeListen(StationsFile &file, int line, const QString &key, const QString &value)
    {
        if (key != QLatin1String("address"))
            return fail(line, key, QStringLiteral("unknown key in [listen] (address)"));
        if (value.isEmpty())
            return fail(line, key, QStringLiteral("needs [HOST:]PORT"));
        file.listenAddress = value;
        return true;
    }

    // Callers must be told apart by their first bytes or their address.
    bool callersApart(const std::vector<Station> &stations)
    {
        for (size_t i = 0; i < stations.size(); ++i) {
            const auto &a = stations[i].callIn;
            for (size_t j = 0; a && j < stations.size(); ++j) {
                const auto &b = stations[j].callIn;
                if (i == j || !b)
                    continue;
                if (!a->id.isEmpty() && !b->id.isEmpty() && b->id.startsWith(a->id))
                    return fail(stations[j].line, QStringLiteral("call-in"),
                                a->id == b->id
                                    ? QStringLiteral("stations '%1' and '%2' have one ID").arg(stations[i].name, stations[j].name)
                                    : QStringLiteral("the ID of station '%1' begins with that of '%2': where a "
                                                     "registration ends could not be told")
                                          .arg(stations[j].name, stations[i].name));
                if (i < j && a->id.isEmpty() && b->id.isEmpty() && a->from == b->from)
                    return fail(stations[j].line, QStringLiteral("call-in-from"),
                                QStringLiteral("stations '%1' and '%2' call from one address and send no ID")
                                    .arg(stations[i].name, stations[j].name));
            }
        }
        return true;
    }

    // Whole-station checks, once its group has ended.
    bool takeStore(StationsFile &file, int line, const QString &key, const QString &value)
    {
        if (key != QLatin1String("url"))
            return fail(line, key, QStringLiteral("unknown key in [store] (url)"));
        QString problem;
        file.store = parseStoreUrl(value, baseDir, &problem);
        return file.store || fail(line, key, problem);
    }

    bool takePublish(StationsFile &file, int line, const QString &key, const QString &value)
    {
        QString problem;
        if (!file.publish)
            file.publish.emplace();
        return takePublishKey(*file.publish, key, value, baseDir, &problem) || fail(line, key, problem);
    }

    // The [publish] group's keys together, and the stations' names in its topics.
    bool publishSound(const StationsFile &file, int groupLine)
    {
        if (!file.publish)
            return true;
        const auto problem = publishProblem(*file.publish, file.stations);
        if (!problem)
            return true;
        const auto station = std::find_if(file.stations.begin(), file.stations.end(),
                                          [&](const Station &s) { return s.name == problem->station; });
        return fail(station == file.stations.end() ? groupLine : station->line, problem->key, problem->what);
    }

    // One channel's numbers are one quantity: a depth that is also the flow would corrupt both.
    bool rolesApart(const Station &s)
    {
        const survey::ChannelRoles &r = s.survey.roles;
        const std::pair<const char *, int> roles[] = {
            {"depth-channel", r.depth}, {"velocity-channel", r.velocity}, {"flow-channel", r.flow},
            {"total-channel", r.total}};
        for (size_t i = 0; i < std::size(roles); ++i)
            for (size_t j = i + 1; j < std::size(roles); ++j)
                if (roles[i].second != 0 && roles[i].second == roles[j].second)
                    return fail(s.line, QLatin1String(roles[j].first),
                                QStringLiteral("station '%1' gives channel %2 to %3 as well")
                                    .arg(s.name)
                                    .arg(roles[j].second)
                                    .arg(QLatin1String(roles[i].first)));
        return true;
    }

    bool finish(const Station &s, const QSet<QString> &keys, QHash<QString, QString> &outputs)
    {
        const bool callsIn = keys.contains(QStringLiteral("call-in")) || keys.contains(QStringLiteral("call-in-from"));
        if (s.callIn && !callsIn)
            return fail(s.line, keys.contains(QStringLiteral("heartbeat")) ? QStringLiteral("heartbeat")
                                                                          : QStringLiteral("call-in-id"),
                        QStringLiteral("station '%1' goes with call-in or call-in-from").arg(s.name));
        if (callsIn) {
            for (const char *other : {"port", "dial"}) {
                if (keys.contains(QLatin1String(other)))
                    return fail(s.line, QLatin1String(other),
                                QStringLiteral("station '%1' calls in: it has no %2").arg(s.name, QLatin1String(other)));
            }
            if (s.callIn->idEveryPacket && s.callIn->id.isEmpty())
                return fail(s.line, QStringLiteral("call-in-id"),
                            QStringLiteral("station '%1' has no call-in ID to send").arg(s.name));
        }
        for (const char *needed : {"port", "output"}) {
            if (callsIn && QLatin1String(needed) == QLatin1String("port"))
                continue;
            if (!keys.contains(QLatin1String(needed)))
                return fail(s.line, QLatin1String(needed),
                            QStringLiteral("station '%1' has none").arg(s.name));
        }
        if (!s.dial.isEmpty() && !s.lineChoice.networkAddress.isEmpty())
            return fail(s.line, QStringLiteral("dial"),
                        QStringLiteral("station '%1' is behind a device server (%2); a modem is dialled on a "
                                       "serial port")
                            .arg(s.name, s.lineChoice.networkAddress));
        if (!rolesApart(s))
            return false;
        if (outputs.contains(s.output))
            return fail(s.line, QStringLiteral("output"),
                        QStringLiteral("stations '%1' and '%2' would write the same file %3")
                            .arg(outputs.value(s.output), s.name, s.output));
        outputs.insert(s.output, s.name);
        return true;
    }
};

} // namespace

QTimeZone Station::timeZone() const
{
    return timezone.isEmpty() ? QTimeZone::systemTimeZone() : QTimeZone(timezone);
}

QString Station::portKey(const QStringList &comLinkDirs) const
{
    // Stations behind one device server port share its serial line and take turns.
    if (!lineChoice.networkAddress.isEmpty()) {
        const auto endpoint = parseNetworkEndpoint(lineChoice.networkAddress);
        return endpoint ? QStringLiteral("%1:%2").arg(endpoint->host.toLower()).arg(endpoint->port)
                        : lineChoice.networkAddress;
    }
    const QString device =
        lineChoice.devicePath.isEmpty() ? resolveComDevice(comLinkDirs, lineChoice.comNumber)
                                        : lineChoice.devicePath;
    // Two names for one device are one line: collected side by side they would shut each other out.
    const QString real = QFileInfo(device).canonicalFilePath();
    return real.isEmpty() ? device : real;
}

StationsFile parseStations(const QByteArray &text, const QString &fileName, const QString &baseDir,
                           const LineChoice &defaults)
{
    Reader reader{fileName, baseDir, {}};
    StationsFile file;
    QHash<QString, QString> outputs;
    QSet<QString> names;
    QSet<QString> keys;
    // The groups that are no station, each with the key it must have and what reads its keys.
    using GroupReader = bool (Reader::*)(StationsFile &, int, const QString &, const QString &);
    struct ReservedGroup {
        const char *name;
        const char *needs;
        GroupReader take;
        int line = 0; // of its heading; 0: not seen
    };
    ReservedGroup reserved[] = {{"store", "url", &Reader::takeStore},
                                {"listen", "address", &Reader::takeListen},
                                {"publish", "url", &Reader::takePublish}};
    ReservedGroup *group = nullptr; // the reserved group being read, if any
    const QList<QByteArray> lines = text.split('\n');
    bool ok = true;
    for (int i = 0; ok && i <= lines.size(); ++i) {
        const int lineNumber = i + 1;
        const QString line = i < lines.size() ? withoutComment(QString::fromUtf8(lines[i])).trimmed()
                                              : QString();
        const bool heading = line.startsWith(u'[');
        if ((heading || i == lines.size()) && !file.stations.empty() && !group)
            ok = reader.finish(file.stations.back(), keys, outputs);
        if (heading || i == lines.size()) {
            if (group && !keys.contains(QLatin1String(group->needs)))
                ok = ok && reader.fail(group->line, QLatin1String(group->needs),
                                       QStringLiteral("[%1] has none").arg(QLatin1String(group->name)));
            group = nullptr;
        }
        if (!ok || line.isEmpty())
            continue;
        if (heading) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            keys.clear();
            for (ReservedGroup &g : reserved) {
                if (name == QLatin1String(g.name) && line.endsWith(u']'))
                    group = &g;
            }
            if (group) {
                if (group->line > 0)
                    ok = reader.fail(lineNumber, {}, QStringLiteral("[%1] appears twice").arg(name));
                group->line = lineNumber;
                continue;
            }
            // "[a]]" is a slip of the keyboard, not a station called "a]".
            const bool strayBracket = name.contains(u'[') || name.contains(u']');
            if (!line.endsWith(u']') || name.isEmpty() || strayBracket)
                ok = reader.fail(lineNumber, {}, QStringLiteral("a station heading is [name]"));
            else if (const QString c = controlCharacter(name); !c.isEmpty())
                ok = reader.fail(lineNumber, {},
                                 QStringLiteral("the station name holds a control character (%1)")
                                     .arg(c));
            else if (names.contains(name))
                ok = reader.fail(lineNumber, {}, QStringLiteral("station '%1' appears twice").arg(name));
            Station station;
            station.lineChoice = defaults;
            station.name = name;
            station.line = lineNumber;
            file.stations.push_back(station);
            names.insert(name);
            keys.clear();
            continue;
        }
        const int equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        if (equals < 0)
            ok = reader.fail(lineNumber, {}, QStringLiteral("expected key = value"));
        else if (const QString c = controlCharacter(key); !c.isEmpty())
            ok = reader.fail(lineNumber, {},
                             QStringLiteral("the key holds a control character (%1)").arg(c));
        else if (const QString inValue = controlCharacter(value); !inValue.isEmpty())
            ok = reader.fail(lineNumber, key,
                             QStringLiteral("the value holds a control character (%1)").arg(inValue));
        else if (file.stations.empty() && !group)
            ok = reader.fail(lineNumber, key, QStringLiteral("comes before any [station] heading"));
        else if (keys.contains(key))
            ok = reader.fail(lineNumber, key, QStringLiteral("given twice"));
        else if (group)
            ok = (reader.*group->take)(file, lineNumber, key, value);
        else
            ok = reader.take(file.stations.back(), lineNumber, key, value);
        keys.insert(key);
    }
    if (ok && file.stations.empty())
        ok = reader.fail(1, {}, QStringLiteral("no [station] in the file"));
    if (ok)
        ok = reader.callersApart(file.stations);
    if (ok)
        ok = reader.publishSound(file, reserved[2].line);
    if (!ok) {
        file.stations.clear();
        file.store.reset();
        file.publish.reset();
        file.error = reader.error;
    }
    return file;
}

StationsFile readStationsFile(const QString &path, const LineChoice &defaults)
{
    // Looked at before it is opened: a pipe would hold the run, /dev/zero fill memory.
    const SmallFile file = readSmallFile(path, kMaxStationsFileBytes);
    if (!file.check.ok()) {
        StationsFile none;
        none.error = file.check.problem;
        if (file.check.state == FileState::NotRegular || file.check.state == FileState::TooLarge)
            none.error += QStringLiteral(": give the stations file itself");
        return none;
    }
    return parseStations(file.bytes, path, QFileInfo(path).absolutePath(), defaults);
}

QByteArray callInBytes(const QString &value, QString *problem)
{
    if (value.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive)) {
        const QString digits = value.mid(4);
        const bool hex = !digits.isEmpty() && digits.size() % 2 == 0
                         && std::all_of(digits.begin(), digits.end(), [](QChar c) { return isxdigit(c.toLatin1()); });
        if (hex)
            return QByteArray::fromHex(digits.toLatin1());
        *problem = QStringLiteral("hex: takes pairs of hex digits (hex:0A1B)");
        return {};
    }
    if (value.isEmpty())
        *problem = QStringLiteral("needs text, or hex: and hex digits");
    return value.toUtf8();
}

std::optional<qint64> intervalMs(const QString &value, QString *problem)
{
    static const std::pair<const char *, qint64> units[] = {
        {"", 1000}, {"s", 1000}, {"min", 60000}, {"h", 3600000}, {"d", 86400000}};
    const QString text = value.trimmed();
    int digits = 0;
    while (digits < text.size() && (text[digits].isDigit() || text[digits] == u'.'))
        ++digits;
    bool ok = false;
    const double number = text.left(digits).toDouble(&ok);
    const QString unit = text.mid(digits).trimmed();
    for (const auto &[name, ms] : units) {
        // Up to a year: a longer wait is a typing slip.
        if (ok && unit == QLatin1String(name) && number >= 0 && number * ms <= 366.0 * 86400000)
            return static_cast<qint64>(number * ms + 0.5);
    }
    *problem = QStringLiteral("takes seconds or a number and a unit (90, 15 min, 1 h, 1 d) up to a year");
    return std::nullopt;
}

std::vector<Station> callingStations(const std::vector<Station> &stations, bool callIn)
{
    std::vector<Station> chosen;
    for (const Station &s : stations) {
        if (s.callIn.has_value() == callIn)
            chosen.push_back(s);
    }
    return chosen;
}

std::vector<StationOutput> stationOutputs(const std::vector<Station> &stations)
{
    std::vector<StationOutput> outputs;
    for (const Station &s : stations)
        outputs.push_back({s.name, s.output});
    return outputs;
}

} // namespace ostrand::collect

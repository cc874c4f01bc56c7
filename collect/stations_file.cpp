#include "stations_file.h"

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
        } else {
            return fail(line, key,
                        QStringLiteral("unknown key (port, baud, slave, reply-timeout, connect-timeout, request-gap, "
                                       "echo, dial, portable, output, timezone, clock)"));
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

    bool finish(const Station &s, const QSet<QString> &keys, QHash<QString, QString> &outputs)
    {
        for (const char *needed : {"port", "output"}) {
            if (!keys.contains(QLatin1String(needed)))
                return fail(s.line, QLatin1String(needed),
                            QStringLiteral("station '%1' has none").arg(s.name));
        }
        if (!s.dial.isEmpty() && !s.lineChoice.networkAddress.isEmpty())
            return fail(s.line, QStringLiteral("dial"),
                        QStringLiteral("station '%1' is behind a device server (%2); a modem is dialled on a "
                                       "serial port")
                            .arg(s.name, s.lineChoice.networkAddress));
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
    bool inStore = false;
    int storeLine = 0;
    const QList<QByteArray> lines = text.split('\n');
    bool ok = true;
    for (int i = 0; ok && i <= lines.size(); ++i) {
        const int lineNumber = i + 1;
        const QString line = i < lines.size() ? withoutComment(QString::fromUtf8(lines[i])).trimmed()
                                              : QString();
        const bool heading = line.startsWith(u'[');
        if ((heading || i == lines.size()) && !file.stations.empty() && !inStore)
            ok = reader.finish(file.stations.back(), keys, outputs);
        if (heading || i == lines.size()) {
            if (inStore && !keys.contains(QStringLiteral("url")))
                ok = ok && reader.fail(storeLine, QStringLiteral("url"), QStringLiteral("[store] has none"));
            inStore = false;
        }
        if (!ok || line.isEmpty())
            continue;
        if (heading) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            keys.clear();
            if (name == QLatin1String("store") && line.endsWith(u']')) {
                if (storeLine > 0)
                    ok = reader.fail(lineNumber, {}, QStringLiteral("[store] appears twice"));
                inStore = true;
                storeLine = lineNumber;
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
        else if (file.stations.empty() && !inStore)
            ok = reader.fail(lineNumber, key, QStringLiteral("comes before any [station] heading"));
        else if (keys.contains(key))
            ok = reader.fail(lineNumber, key, QStringLiteral("given twice"));
        else if (inStore)
            ok = reader.takeStore(file, lineNumber, key, value);
        else
            ok = reader.take(file.stations.back(), lineNumber, key, value);
        keys.insert(key);
    }
    if (ok && file.stations.empty())
        ok = reader.fail(1, {}, QStringLiteral("no [station] in the file"));
    if (!ok) {
        file.stations.clear();
        file.store.reset();
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

std::vector<StationOutput> stationOutputs(const std::vector<Station> &stations)
{
    std::vector<StationOutput> outputs;
    for (const Station &s : stations)
        outputs.push_back({s.name, s.output});
    return outputs;
}

} // namespace ostrand::collect

#include "stations_file.h"

#include "link/link_settings.h"
#include "platform/baud_rates.h"
#include "platform/com_port_names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
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
        static const QRegularExpression com(QStringLiteral("^COM([1-4])$"),
                                            QRegularExpression::CaseInsensitiveOption);
        if (key == QLatin1String("port")) {
            if (const auto m = com.match(value); m.hasMatch())
                s.comNumber = m.captured(1).toInt();
            else if (value.isEmpty() || value.startsWith(u'-'))
                return fail(line, key, QStringLiteral("takes COM1 to COM4 or a device path"));
            else
                s.devicePath = QDir(baseDir).absoluteFilePath(value);
        } else if (key == QLatin1String("baud")) {
            if (baudRateIndex(value) < 0)
                return fail(line, key, QStringLiteral("'%1' is not one of 1200, 2400, 4800, 9600, "
                                                      "14400, 19200, 38400").arg(value));
            s.baud = value;
        } else if (key == QLatin1String("slave")) {
            bool ok = false;
            s.slave = value.toInt(&ok);
            if (!ok || !LinkSettings::isValidSlave(s.slave))
                return fail(line, key, QStringLiteral("'%1' is not a slave address from 0 to 255").arg(value));
        } else if (key == QLatin1String("dial")) {
            if (value.isEmpty())
                return fail(line, key, QStringLiteral("needs a number"));
            s.dial = value;
        } else if (key == QLatin1String("portable")) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                return fail(line, key, QStringLiteral("takes true or false"));
            s.portable = value == QLatin1String("true");
        } else if (key == QLatin1String("output")) {
            if (value.isEmpty())
                return fail(line, key, QStringLiteral("needs a file name"));
            s.output = QDir::cleanPath(QDir(baseDir).absoluteFilePath(value));
        } else {
            return fail(line, key, QStringLiteral("unknown key (port, baud, slave, dial, portable, output)"));
        }
        return true;
    }

    // Whole-station checks, once its group has ended.
    bool finish(const Station &s, const QSet<QString> &keys, QHash<QString, QString> &outputs)
    {
        for (const char *needed : {"port", "output"}) {
            if (!keys.contains(QLatin1String(needed)))
                return fail(s.line, QLatin1String(needed),
                            QStringLiteral("station '%1' has none").arg(s.name));
        }
        if (outputs.contains(s.output))
            return fail(s.line, QStringLiteral("output"),
                        QStringLiteral("stations '%1' and '%2' would write the same file %3")
                            .arg(outputs.value(s.output), s.name, s.output));
        outputs.insert(s.output, s.name);
        return true;
    }
};

} // namespace

QString Station::portKey(const QStringList &comLinkDirs) const
{
    const QString device = devicePath.isEmpty() ? resolveComDevice(comLinkDirs, comNumber) : devicePath;
    // Two names for one device are one line: collected side by side they would shut each other out.
    const QString real = QFileInfo(device).canonicalFilePath();
    return real.isEmpty() ? device : real;
}

StationsFile parseStations(const QByteArray &text, const QString &fileName, const QString &baseDir)
{
    Reader reader{fileName, baseDir, {}};
    StationsFile file;
    QHash<QString, QString> outputs;
    QSet<QString> names;
    QSet<QString> keys;
    const QList<QByteArray> lines = text.split('\n');
    bool ok = true;
    for (int i = 0; ok && i <= lines.size(); ++i) {
        const int lineNumber = i + 1;
        const QString line = i < lines.size() ? withoutComment(QString::fromUtf8(lines[i])).trimmed()
                                              : QString();
        const bool heading = line.startsWith(u'[');
        if ((heading || i == lines.size()) && !file.stations.empty())
            ok = reader.finish(file.stations.back(), keys, outputs);
        if (!ok || line.isEmpty())
            continue;
        if (heading) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (!line.endsWith(u']') || name.isEmpty())
                ok = reader.fail(lineNumber, {}, QStringLiteral("a station heading is [name]"));
            else if (names.contains(name))
                ok = reader.fail(lineNumber, {}, QStringLiteral("station '%1' appears twice").arg(name));
            Station station;
            station.name = name;
            station.line = lineNumber;
            file.stations.push_back(station);
            names.insert(name);
            keys.clear();
            continue;
        }
        const int equals = line.indexOf(u'=');
        const QString key = line.left(equals).trimmed().toLower();
        if (equals < 0)
            ok = reader.fail(lineNumber, {}, QStringLiteral("expected key = value"));
        else if (file.stations.empty())
            ok = reader.fail(lineNumber, key, QStringLiteral("comes before any [station] heading"));
        else if (keys.contains(key))
            ok = reader.fail(lineNumber, key, QStringLiteral("given twice"));
        else
            ok = reader.take(file.stations.back(), lineNumber, key, line.mid(equals + 1).trimmed());
        keys.insert(key);
    }
    if (ok && file.stations.empty())
        ok = reader.fail(1, {}, QStringLiteral("no [station] in the file"));
    if (!ok) {
        file.stations.clear();
        file.error = reader.error;
    }
    return file;
}

StationsFile readStationsFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        StationsFile none;
        none.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return none;
    }
    return parseStations(file.readAll(), path, QFileInfo(path).absolutePath());
}

} // namespace ostrand::collect

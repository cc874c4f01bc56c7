#include "settings_file.h"

#include "display/display_units.h"
#include "platform/baud_rates.h"
#include "platform/save_file.h"
#include "platform/small_file.h"
#include "platform/text_value.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ostrand {
namespace {

// The file is single-byte text; Latin-1 keeps every byte as it was, so a
// value read and written back is the same bytes whatever it holds.
QByteArray encodeLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines) {
        out += line.toLatin1();
        out += "\r\n";
    }
    return out;
}

// The list positions are written with a sign place, as the old tools did:
// " 1" for one, "-1" for none.
QString signedPlace(int value)
{
    return value >= 0 ? QStringLiteral(" %1").arg(value) : QString::number(value);
}

// Reads the file strictly by position: a line that does not hold its key is
// passed over without resynchronising, and the first failure ends the reading.
class PositionalReader {
public:
    PositionalReader(const QStringList &lines, Settings &out) : lines_(lines), out_(out) {}

    // Reads the line at the next position. False when the file has ended.
    bool next()
    {
        if (position_ >= lines_.size()) {
            stop(position_ + 1, QStringLiteral("the file ends before this line"));
            return false;
        }
        current_ = lines_[position_++];
        return true;
    }
    bool matches(const QString &key)
    {
        const bool held = current_.contains(key);
        if (!held && out_.firstUnexpectedLine == 0) {
            out_.firstUnexpectedLine = position_;
            out_.expectedKey = key;
        }
        return held;
    }
    // Never read back, yet a line missing here shifts all the rest.
    void expectEither(const QString &key, const QString &other)
    {
        if (!current_.contains(other))
            matches(key);
    }
    // Text past the last line is dropped by the next save, so it too makes the file unclean.
    void expectNothingMore()
    {
        for (int line = position_; line < lines_.size(); ++line) {
            if (!lines_[line].trimmed().isEmpty() && out_.firstUnexpectedLine == 0)
                out_.firstUnexpectedLine = line + 1;
        }
    }
    QString value() const
    {
        const int eq = current_.indexOf(u'=');
        return eq < 0 ? current_ : current_.mid(eq + 1);
    }
    // Ends the reading at the current line.
    bool fail(const QString &reason)
    {
        stop(position_, reason);
        return false;
    }

private:
    void stop(int line, const QString &reason)
    {
        out_.stoppedAtLine = line;
        out_.stopReason = reason;
    }

    const QStringList &lines_;
    Settings &out_;
    int position_ = 0;
    QString current_;
};

bool readLines(PositionalReader &in, Settings &s)
{
    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[Commport]"))) {
        const auto port = leadingNumberAsInt16(in.value());
        s.portIndex = port && *port >= 1 && *port <= 4 ? *port - 1 : 0;
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[CommBaud]"))) {
        const int index = baudRateIndex(QString::number(leadingNumber(in.value()), 'g', 15));
        s.baudIndex = index >= 0 ? index : int(kBaudRates.size()) - 1;
    }

    // Line 3, the flow control, is never read back: the port keeps its handshaking.
    if (!in.next())
        return false;
    in.expectEither(QStringLiteral("[CommFlow]"), QStringLiteral("[CommHandshaking]"));

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[CommSlaveID]")))
        s.slaveIdText = in.value();

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[DownloadSaveFile]")))
        s.downloadFileText = in.value();

    if (!in.next()) {
        // A file cut short at the Palm path still leaves a usable path behind.
        s.palmDatabasePath = kDefaultPalmDatabasePath;
        return false;
    }
    if (in.matches(QStringLiteral("[PalmDatabaseFile]")))
        s.palmDatabasePath = in.value();

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[USEPalmDatabase]"))) {
        const QString v = in.value();
        s.palmCheckState = v == QLatin1String("1") ? 1 : v == QLatin1String("2") ? 2 : 0;
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[PalmFileSep]"))) {
        const QString v = in.value();
        // There is no separation option 1: older versions stopped here too.
        if (v == QLatin1String("1"))
            return in.fail(QStringLiteral("there is no file separation 1"));
        s.separationIndex = v == QLatin1String("2") ? 2 : 0;
    }

    s.phoneListReached = true;
    const QString phoneKeys[3] = {QStringLiteral("[Item#]"), QStringLiteral("[ItemPhone#]"),
                                  QStringLiteral("[ItemDescription]")};
    for (auto &entry : s.phoneList) {
        for (int col = 0; col < 3; ++col) {
            if (!in.next())
                return false;
            if (in.matches(phoneKeys[col]))
                entry[col] = in.value();
        }
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[MeterType]"))) {
        const auto type = wholeTextAsInt16(in.value());
        if (!type)
            return in.fail(QStringLiteral("the meter type is not a whole number"));
        s.meterTypeIndex = *type == 1 || *type == 2 ? *type : 0;
    }

    // Stored in this order: flow units, flow format, velocity units, total units.
    const struct {
        int list;
        std::optional<int> Settings::*position;
    } lists[] = {{1, &Settings::flowUnits},
                 {3, &Settings::flowFormat},
                 {4, &Settings::velocityUnits},
                 {2, &Settings::totalUnits}};
    for (const auto &[list, position] : lists) {
        if (!in.next())
            return false;
        if (in.matches(unitList(list).settingsKey)) {
            const auto value = wholeTextAsInt16(in.value());
            if (!value || *value < -1 || *value >= unitList(list).items.size())
                return in.fail(QStringLiteral("the list has no such position"));
            s.*position = *value;
        }
    }
    in.expectNothingMore();
    return true;
}

} // namespace

QStringList settingsLinesOf(const QByteArray &bytes)
{
    QStringList lines = QString::fromLatin1(bytes).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the terminator of the last line, not a line
    for (QString &line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }
    return lines;
}

QByteArray defaultSettingsBytes()
{
    QStringList lines = {
        QStringLiteral("[Commport]=1"),
        QStringLiteral("[CommBaud]=38400"),
        QStringLiteral("[CommFlow]=Hardware"),
        QStringLiteral("[CommSlaveID]=001"),
        QStringLiteral("[DownloadSaveFile]=Logdata.csv"),
        QStringLiteral("[PalmDatabaseFile]=") + kDefaultPalmDatabasePath,
        QStringLiteral("[USEPalmDatabase]=0"),
        QStringLiteral("[PalmFileSep]=0"),
    };
    for (int k = 1; k <= 10; ++k) {
        lines << QStringLiteral("[Item#]= %1").arg(k) << QStringLiteral("[ItemPhone#]= ")
              << QStringLiteral("[ItemDescription]= ");
    }
    lines << QStringLiteral("[MeterType]=0") << QStringLiteral("[FlowUnits]=1")
          << QStringLiteral("[FlowFormat]=1") << QStringLiteral("[VelocityUnits]=1")
          << QStringLiteral("[TotalUnits]=1");
    return encodeLines(lines);
}

QByteArray settingsBytes(const Settings &s)
{
    QStringList lines;
    if (s.portIndex && *s.portIndex >= 0 && *s.portIndex <= 3)
        lines << QStringLiteral("[Commport]=%1").arg(*s.portIndex + 1);
    if (s.baudIndex && *s.baudIndex >= 0 && *s.baudIndex < int(kBaudRates.size()))
        lines << QStringLiteral("[CommBaud]=") + QLatin1String(kBaudRates[*s.baudIndex]);
    if (s.handshakeIndex == 0)
        lines << QStringLiteral("[CommHandshaking]=none");
    else if (s.handshakeIndex == 1)
        lines << QStringLiteral("[CommHandshaking]=Hardware");
    lines << QStringLiteral("[CommSlaveID]=") + s.slaveIdText.value_or(QString());
    lines << QStringLiteral("[DownloadSaveFile]=") + s.downloadFileText.value_or(QString());
    lines << QStringLiteral("[PalmDatabaseFile]=") + s.palmDatabasePath.value_or(QString());
    lines << QStringLiteral("[USEPalmDatabase]=%1").arg(s.palmCheckState.value_or(0));
    if (s.separationIndex == 0 || s.separationIndex == 2)
        lines << QStringLiteral("[PalmFileSep]=%1").arg(*s.separationIndex);
    for (const auto &entry : s.phoneList) {
        lines << QStringLiteral("[Item#]=") + entry[0].value_or(QString())
              << QStringLiteral("[ItemPhone#]=") + entry[1].value_or(QString())
              << QStringLiteral("[ItemDescription]=") + entry[2].value_or(QString());
    }
    // "R1900 Portable" is not kept: it would start polling unasked at the next start.
    const int meterType = s.meterTypeIndex.value_or(0);
    lines << QStringLiteral("[MeterType]=%1").arg(meterType >= 0 && meterType <= 2 ? meterType : 0);
    lines << QStringLiteral("[FlowUnits]=") + signedPlace(s.flowUnits.value_or(-1))
          << QStringLiteral("[FlowFormat]=") + signedPlace(s.flowFormat.value_or(-1))
          << QStringLiteral("[VelocityUnits]=") + signedPlace(s.velocityUnits.value_or(-1))
          << QStringLiteral("[TotalUnits]=") + signedPlace(s.totalUnits.value_or(-1));
    return encodeLines(lines);
}

Settings readSettings(const QByteArray &bytes)
{
    const QStringList lines = settingsLinesOf(bytes);
    Settings settings;
    PositionalReader reader(lines, settings);
    readLines(reader, settings);
    return settings;
}

} // namespace ostrand

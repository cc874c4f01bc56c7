#include "settings_file.h"

#include "platform/save_file.h"
#include "platform/text_value.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace ostrand {
namespace {

const char *const kBaudCaptions[] = {"1200", "2400", "4800", "9600", "14400", "19200", "38400"};

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

QStringList decodeLines(const QByteArray &bytes)
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
    explicit PositionalReader(const QStringList &lines) : lines_(lines) {}

    // Reads the line at the next position. False when the file has ended.
    bool next()
    {
        if (position_ >= lines_.size()) {
            failedAt_ = position_ + 1;
            return false;
        }
        current_ = lines_[position_++];
        return true;
    }
    bool matches(const QString &key) const { return current_.contains(key); }
    QString value() const
    {
        const int eq = current_.indexOf(u'=');
        return eq < 0 ? current_ : current_.mid(eq + 1);
    }
    void fail() { failedAt_ = position_; }
    int failedAt() const { return failedAt_; }

private:
    const QStringList &lines_;
    int position_ = 0;
    QString current_;
    int failedAt_ = 0;
};

bool applyLines(PositionalReader &in, SettingsTarget &target)
{
    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[Commport]"))) {
        const auto port = leadingNumberAsInt16(in.value());
        if (port && *port >= 1 && *port <= 4) {
            target.setCommPortNumber(*port);
            target.selectPortOption(*port - 1);
        } else {
            target.selectPortOption(0);
            target.setCommPortNumber(1);
        }
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[CommBaud]"))) {
        const QString baud = QString::number(leadingNumber(in.value()), 'g', 15);
        int index = -1;
        for (int i = 0; i < 7; ++i) {
            if (baud == QLatin1String(kBaudCaptions[i]))
                index = i;
        }
        if (index >= 0) {
            target.setBaudRateText(baud);
            target.selectBaudOption(index);
        } else {
            target.setBaudRateText(QStringLiteral("38400"));
            target.selectBaudOption(6);
        }
    }

    // Line 3, the flow control, is never applied: the port keeps its handshaking.
    if (!in.next())
        return false;

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[CommSlaveID]"))) {
        target.setSlaveIdText(in.value());
        target.setSlaveIdFromText(in.value());
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[DownloadSaveFile]"))) {
        target.setDownloadFileName(in.value());
        target.setDownloadFileText(in.value());
    }

    if (!in.next()) {
        // A file cut short at the Palm path still leaves a usable path behind.
        target.setPalmDatabasePath(kDefaultPalmDatabasePath);
        target.setPalmPathText(kDefaultPalmDatabasePath);
        return false;
    }
    if (in.matches(QStringLiteral("[PalmDatabaseFile]"))) {
        target.setPalmDatabasePath(in.value());
        target.setPalmPathText(in.value());
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[USEPalmDatabase]"))) {
        const QString v = in.value();
        if (v == QLatin1String("1")) {
            target.setPalmCheckState(1);
            target.setPalmIdListVisible(true);
        } else if (v == QLatin1String("2")) {
            target.setPalmCheckState(2);
        } else {
            target.setPalmCheckState(0);
            target.setPalmIdListVisible(false);
        }
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[PalmFileSep]"))) {
        const QString v = in.value();
        if (v == QLatin1String("1")) {
            // There is no separation option 1: older versions stopped here too.
            in.fail();
            return false;
        }
        target.selectSeparationOption(v == QLatin1String("2") ? 2 : 0);
    }

    target.setUpPhoneListHeadings();
    const QString phoneKeys[3] = {QStringLiteral("[Item#]"), QStringLiteral("[ItemPhone#]"),
                                  QStringLiteral("[ItemDescription]")};
    for (int row = 1; row <= 10; ++row) {
        for (int col = 1; col <= 3; ++col) {
            if (!in.next())
                return false;
            if (in.matches(phoneKeys[col - 1]))
                target.setPhoneListCell(row, col, in.value());
        }
    }

    if (!in.next())
        return false;
    if (in.matches(QStringLiteral("[MeterType]"))) {
        const auto type = wholeTextAsInt16(in.value());
        if (!type) {
            in.fail();
            return false;
        }
        target.selectMeterTypeOption(*type == 1 || *type == 2 ? *type : 0);
    }

    const struct {
        const char *key;
        int combo;
    } lists[] = {{"[FlowUnits]", 1}, {"[FlowFormat]", 3}, {"[VelocityUnits]", 4}, {"[TotalUnits]", 2}};
    for (const auto &list : lists) {
        if (!in.next())
            return false;
        if (in.matches(QLatin1String(list.key))) {
            const auto position = wholeTextAsInt16(in.value());
            if (!position || !target.setUnitListPosition(list.combo, *position)) {
                in.fail();
                return false;
            }
        }
    }
    return true;
}

} // namespace

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

QByteArray settingsBytes(const SettingsSnapshot &s)
{
    QStringList lines;
    if (s.portIndex >= 0 && s.portIndex <= 3)
        lines << QStringLiteral("[Commport]=%1").arg(s.portIndex + 1);
    if (!s.baudCaption.isEmpty())
        lines << QStringLiteral("[CommBaud]=") + s.baudCaption;
    if (s.handshakeIndex == 0)
        lines << QStringLiteral("[CommHandshaking]=none");
    else if (s.handshakeIndex == 1)
        lines << QStringLiteral("[CommHandshaking]=Hardware");
    lines << QStringLiteral("[CommSlaveID]=") + s.slaveIdText;
    lines << QStringLiteral("[DownloadSaveFile]=") + s.downloadFileText;
    lines << QStringLiteral("[PalmDatabaseFile]=") + s.palmDatabasePath;
    lines << QStringLiteral("[USEPalmDatabase]=%1").arg(s.palmCheckState);
    if (s.separationIndex == 0 || s.separationIndex == 2)
        lines << QStringLiteral("[PalmFileSep]=%1").arg(s.separationIndex);
    for (const auto &entry : s.phoneList) {
        lines << QStringLiteral("[Item#]=") + entry[0] << QStringLiteral("[ItemPhone#]=") + entry[1]
              << QStringLiteral("[ItemDescription]=") + entry[2];
    }
    // "R1900 Portable" is not kept: it would start polling unasked at the next start.
    const int meterType = s.meterTypeIndex >= 0 && s.meterTypeIndex <= 2 ? s.meterTypeIndex : 0;
    lines << QStringLiteral("[MeterType]=%1").arg(meterType);
    lines << QStringLiteral("[FlowUnits]=") + signedPlace(s.flowUnits)
          << QStringLiteral("[FlowFormat]=") + signedPlace(s.flowFormat)
          << QStringLiteral("[VelocityUnits]=") + signedPlace(s.velocityUnits)
          << QStringLiteral("[TotalUnits]=") + signedPlace(s.totalUnits);
    return encodeLines(lines);
}

SettingsLoadOutcome applySettings(const QByteArray &bytes, SettingsTarget &target)
{
    const QStringList lines = decodeLines(bytes);
    PositionalReader reader(lines);
    SettingsLoadOutcome outcome;
    outcome.opened = true;
    outcome.complete = applyLines(reader, target);
    if (outcome.complete)
        target.selectFirstPhoneEntry();
    else
        outcome.stoppedAtLine = reader.failedAt();
    return outcome;
}

SettingsFile::SettingsFile(QString programDir) : programDir_(std::move(programDir)) {}

QString SettingsFile::path() const
{
    return QDir(programDir_).filePath(kSettingsFileName);
}

bool SettingsFile::exists() const
{
    return QFile::exists(path());
}

bool SettingsFile::createDefault()
{
    return saveFile(path(), defaultSettingsBytes(), &lastError_);
}

SettingsLoadOutcome SettingsFile::load(SettingsTarget &target)
{
    // Later bare file names (the output file) resolve in the program's directory.
    QDir::setCurrent(programDir_);
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly)) {
        lastError_ = file.errorString();
        return {};
    }
    const QByteArray bytes = file.readAll();
    file.close();
    const SettingsLoadOutcome outcome = applySettings(bytes, target);
    keepDamagedCopy_ = !outcome.complete;
    return outcome;
}

bool SettingsFile::save(const SettingsSnapshot &snapshot)
{
    QDir::setCurrent(programDir_);
    if (keepDamagedCopy_) {
        // The save below would replace a file that could not be read to its end,
        // phone list and all; keep it so a damaged line never silently costs that.
        const QString backup = path() + QStringLiteral(".bak");
        QFile::remove(backup);
        if (QFile::copy(path(), backup))
            keepDamagedCopy_ = false;
    }
    return saveFile(path(), settingsBytes(snapshot), &lastError_);
}

} // namespace ostrand

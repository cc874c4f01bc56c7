#include "settings_file.h"

#include "platform/save_file.h"
#include "platform/small_file.h"
#include "platform/system_reason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>

// The settings file on disk: made when missing, read, kept aside when it did
// not read cleanly, and replaced whole at exit.

namespace ostrand {
namespace {

// True when `bytes` carries no setting of the user's: every line that holds a key
// holds what a fresh file, or a window that read nothing, writes for it. Such a
// file must never push aside an older 7700dwn.ini.bak, which may hold the phone list.
bool holdsOnlyDefaults(const QByteArray &bytes)
{
    QStringList items = {QString()};
    for (int k = 1; k <= 10; ++k)
        items << QString::number(k);
    const std::pair<QString, QStringList> defaults[] = {
        {QStringLiteral("[Commport]"), {QStringLiteral("1")}},
        {QStringLiteral("[CommBaud]"), {QStringLiteral("38400")}},
        {QStringLiteral("[CommSlaveID]"), {QStringLiteral("001")}},
        {QStringLiteral("[DownloadSaveFile]"), {QString(), QStringLiteral("Logdata.csv")}},
        {QStringLiteral("[PalmDatabaseFile]"), {QString(), kDefaultPalmDatabasePath}},
        {QStringLiteral("[USEPalmDatabase]"), {QStringLiteral("0")}},
        {QStringLiteral("[PalmFileSep]"), {QStringLiteral("0")}},
        {QStringLiteral("[Item#]"), items},
        {QStringLiteral("[ItemPhone#]"), {QString()}},
        {QStringLiteral("[ItemDescription]"), {QString()}},
        {QStringLiteral("[MeterType]"), {QStringLiteral("0")}},
    };
    for (const QString &line : settingsLinesOf(bytes)) {
        const int eq = line.indexOf(u'=');
        const QString value = (eq < 0 ? line : line.mid(eq + 1)).trimmed();
        for (const auto &[key, values] : defaults) {
            if (line.contains(key) && !values.contains(value))
                return false;
        }
    }
    return true;
}

// The first thing a reading found wrong, naming the file and the line.
QString firstFault(const QString &path, const Settings &s)
{
    const int unexpected = s.firstUnexpectedLine;
    if (unexpected != 0 && (s.complete() || unexpected < s.stoppedAtLine)) {
        if (unexpected > kSettingsLineCount)
            return QStringLiteral("%1 has text past its %2 lines (line %3), which is not read")
                .arg(path)
                .arg(kSettingsLineCount)
                .arg(unexpected);
        return QStringLiteral("%1 line %2 is not what was expected (%3 belongs there), so the "
                              "settings from there on may not have been taken")
            .arg(path)
            .arg(unexpected)
            .arg(s.expectedKey);
    }
    return QStringLiteral("%1 line %2 could not be read (%3), so the settings from there on "
                          "were not taken")
        .arg(path)
        .arg(s.stoppedAtLine)
        .arg(s.stopReason);
}

} // namespace

SettingsFile::SettingsFile(QString dir) : dir_(std::move(dir))
{
}

QString SettingsFile::path() const
{
    return QDir(dir_).filePath(kSettingsFileName);
}

bool SettingsFile::exists() const
{
    return QFile::exists(path());
}

bool SettingsFile::createDefault()
{
    return saveFile(path(), defaultSettingsBytes(), &lastError_);
}

QString SettingsFile::backupPath() const
{
    return path() + QStringLiteral(".bak");
}

std::optional<Settings> SettingsFile::load()
{
    notice_.clear();
    keepPending_ = false;
    mayWrite_ = true;
    // A pipe would hold the window before it ever shows, /dev/zero would fill
    // memory: only a regular file of a sensible size is read.
    const SmallFile file = readSmallFile(path(), kMaxSettingsFileBytes);
    const FileState state = file.check.state;
    if (state == FileState::NotRegular || state == FileState::Unreadable) {
        // Nothing of it is known, so nothing may replace it.
        mayWrite_ = false;
        lastError_ = file.check.problem;
        notice_ = file.check.problem +
                  QStringLiteral(": the settings were not read and will not be saved over it");
        return std::nullopt;
    }
    if (state == FileState::Missing) {
        lastError_ = file.check.problem;
        return std::nullopt;
    }
    std::optional<Settings> settings;
    QString fault;
    if (state == FileState::TooLarge) {
        fault = file.check.problem + QStringLiteral(", so it was not read");
    } else {
        settings = readSettings(file.bytes);
        if (settings->readCleanly())
            return settings;
        fault = firstFault(path(), *settings);
    }
    // Kept now rather than at exit: the next save writes the window's state,
    // and what the file held beyond it must survive a crash in between too.
    keepPending_ = true;
    QString outcome;
    keepDamagedCopy(&outcome);
    notice_ = fault + QStringLiteral(": ") + outcome;
    return settings;
}

bool SettingsFile::keepDamagedCopy(QString *outcome)
{
    const QString bakName = QFileInfo(backupPath()).fileName();
    const auto failed = [&](const QString &reason) {
        *outcome = QStringLiteral("it could not be kept as %1 (%2), so it will not be replaced")
                       .arg(bakName, reason);
        return false;
    };
    const FileCheck older = checkSmallFile(backupPath(), kMaxSettingsFileBytes);
    if (older.state == FileState::NotRegular || older.state == FileState::Unreadable)
        return failed(older.problem);
    const SmallFile now = readSmallFile(path(), kMaxSettingsFileBytes);
    if (now.check.state == FileState::TooLarge) {
        // Too large to copy through memory; a rename keeps every byte and is atomic.
        if (::rename(QFile::encodeName(path()).constData(),
                     QFile::encodeName(backupPath()).constData()) != 0)
            return failed(systemReason(errno));
    } else if (now.check.state == FileState::Missing) {
        *outcome = QStringLiteral("it is gone, so there was nothing to keep");
    } else if (!now.check.ok()) {
        return failed(now.check.problem);
    } else if (older.state != FileState::Missing &&
               readSmallFile(backupPath(), kMaxSettingsFileBytes).bytes != now.bytes &&
               holdsOnlyDefaults(now.bytes)) {
        *outcome =
            QStringLiteral("it holds only default values, so the older %1 was kept").arg(bakName);
    } else if (!saveFile(backupPath(), now.bytes, &lastError_)) {
        return failed(lastError_);
    }
    if (outcome->isEmpty())
        *outcome = QStringLiteral("the file was kept as %1").arg(bakName);
    keepPending_ = false;
    return true;
}

bool SettingsFile::save(const Settings &settings)
{
    if (!mayWrite_) {
        lastError_ = notice_;
        return false;
    }
    // A damaged file is replaced only once its bytes are safe in the .bak.
    QString outcome;
    if (keepPending_ && !keepDamagedCopy(&outcome)) {
        lastError_ = outcome;
        return false;
    }
    return saveFile(path(), settingsBytes(settings), &lastError_);
}

} // namespace ostrand

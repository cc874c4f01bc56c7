#pragma once

#include "platform/file_locations.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace ostrand {

// The window's choices as the settings file holds them. An empty optional is a
// value the file did not give (its line missing, out of place or not reached),
// which the window then leaves as it is; on writing, an empty group choice
// leaves its line out and an empty text is written empty.
struct Settings {
    std::optional<int> portIndex;       // Comm1..Comm4 as 0..3
    std::optional<int> baudIndex;       // into kBaudRates
    std::optional<int> handshakeIndex;  // 0 None, 1 Hardware; written, never read back
    std::optional<QString> slaveIdText; // as typed, valid or not
    std::optional<QString> downloadFileText;
    std::optional<QString> palmDatabasePath;
    std::optional<int> palmCheckState;  // 0 unticked, 1 ticked, 2 greyed
    std::optional<int> separationIndex; // 0 by meter ID, 2 not separated
    // The reading reached the phone list, whose headings are then set up.
    bool phoneListReached = false;
    std::array<std::array<std::optional<QString>, 3>, 10> phoneList; // item, phone, description
    std::optional<int> meterTypeIndex;
    // List positions, -1 for none chosen.
    std::optional<int> flowUnits;
    std::optional<int> flowFormat;
    std::optional<int> velocityUnits;
    std::optional<int> totalUnits;

    // 1-based line at which a damaged file stopped the reading, 0 when it was read to the end.
    int stoppedAtLine = 0;
    QString stopReason;
    bool complete() const { return stoppedAtLine == 0; }
    // The first line that did not hold its position's key, or a line past the 43
    // (whose text the next save would drop); 0 when there was none. The reading
    // passes such a line over, but then the file no longer says what the user wrote.
    int firstUnexpectedLine = 0;
    QString expectedKey; // the key that line should have held; empty past the 43
    bool readCleanly() const { return complete() && firstUnexpectedLine == 0; }
};

constexpr int kSettingsLineCount = 43;
// Far past the 43 short lines: a larger file is not one this program wrote.
constexpr qint64 kMaxSettingsFileBytes = 64 * 1024;
inline const QString kDefaultPalmDatabasePath =
    QStringLiteral("c:\\Palm\\UserName\\Backup\\PLOGR2.pdb");

// The 43 lines written when no settings file exists.
QByteArray defaultSettingsBytes();
// The file's lines as read: Latin-1, CR LF or LF ends, no last empty line.
QStringList settingsLinesOf(const QByteArray &bytes);
// The file as written at exit.
QByteArray settingsBytes(const Settings &settings);
// Reads `bytes` line by line by position, stopping at the first failure.
Settings readSettings(const QByteArray &bytes);

// The settings file in the folder chosen at start-up.
class SettingsFile {
public:
    explicit SettingsFile(QString dir);

    QString path() const;
    bool exists() const;
    // Writes the default lines, replacing any file of that name.
    bool createDefault();
    // Empty when the file cannot be read. Only a regular file of at most
    // kMaxSettingsFileBytes is read; one that did not read cleanly is kept at
    // once as 7700dwn.ini.bak, and notice() then says so.
    std::optional<Settings> load();
    // What the last load found wrong with the file, for the status bar; empty when it read cleanly.
    QString notice() const { return notice_; }
    // Replaces the file. A damaged file not yet kept as 7700dwn.ini.bak is kept
    // first, and left as it is when that fails; a pipe, device or file that could
    // not be read at load is never written.
    bool save(const Settings &settings);
    QString lastError() const { return lastError_; }
    QString backupPath() const;

private:
    // Keeps the damaged file as 7700dwn.ini.bak; false with *outcome the reason when it could not.
    bool keepDamagedCopy(QString *outcome);

    QString dir_;
    QString lastError_;
    QString notice_;
    bool keepPending_ = false;
    bool mayWrite_ = true;
};

} // namespace ostrand

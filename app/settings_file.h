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
};

constexpr int kSettingsLineCount = 43;
inline const QString kDefaultPalmDatabasePath =
    QStringLiteral("c:\\Palm\\UserName\\Backup\\PLOGR2.pdb");

// The 43 lines written when no settings file exists.
QByteArray defaultSettingsBytes();
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
    // Empty when the file cannot be read.
    std::optional<Settings> load();
    // Replaces the file. A file whose reading stopped early is first kept as 7700dwn.ini.bak.
    bool save(const Settings &settings);
    QString lastError() const { return lastError_; }

private:
    QString dir_;
    QString lastError_;
    bool keepDamagedCopy_ = false;
};

} // namespace ostrand

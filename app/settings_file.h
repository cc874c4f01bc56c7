#pragma once

#include <QByteArray>
#include <QString>
#include <array>

namespace ostrand {

// The controls and variables that the settings file is read into. The window
// implements it; every call must raise the same notifications as the user's
// own change of that control would.
class SettingsTarget {
public:
    virtual ~SettingsTarget() = default;

    virtual void setCommPortNumber(qint16 value) = 0;
    virtual void selectPortOption(int index) = 0;
    virtual void setBaudRateText(const QString &text) = 0;
    virtual void selectBaudOption(int index) = 0;
    virtual void setSlaveIdText(const QString &text) = 0;
    // The numeric value of `text` into SlaveId, unless it does not fit 16 bits.
    virtual void setSlaveIdFromText(const QString &text) = 0;
    virtual void setDownloadFileName(const QString &name) = 0;
    virtual void setDownloadFileText(const QString &text) = 0;
    virtual void setPalmDatabasePath(const QString &path) = 0;
    virtual void setPalmPathText(const QString &text) = 0;
    // 0 unticked, 1 ticked, 2 greyed.
    virtual void setPalmCheckState(int state) = 0;
    virtual void setPalmIdListVisible(bool visible) = 0;
    virtual void selectSeparationOption(int index) = 0;
    virtual void setUpPhoneListHeadings() = 0;
    virtual void setPhoneListCell(int row, int col, const QString &text) = 0;
    virtual void selectMeterTypeOption(int index) = 0;
    // Selects entry `position` (-1 for none) of list `combo` (1 to 4); false when
    // the list has no such entry.
    virtual bool setUnitListPosition(int combo, int position) = 0;
    virtual void selectFirstPhoneEntry() = 0;
};

// What is written back at exit, gathered from the window. An index of -1 means
// that no element of the group is selected, and its line is then left out.
struct SettingsSnapshot {
    int portIndex = 0;         // Option2: Comm1..Comm4
    QString baudCaption;       // caption of the selected Option1, empty for none
    int handshakeIndex = 1;    // Option3: 0 None, 1 Hardware
    QString slaveIdText;       // Text1
    QString downloadFileText;  // Text2
    QString palmDatabasePath;  // PalmDatabasePath, not Text6
    int palmCheckState = 0;    // Check1: 0, 1, 2
    int separationIndex = 0;   // Option4: 0 or 2
    std::array<std::array<QString, 3>, 10> phoneList; // item, phone, description
    int meterTypeIndex = 0;    // Option5: 0..3
    int flowUnits = -1;        // Combo1
    int flowFormat = -1;       // Combo3
    int velocityUnits = -1;    // Combo4
    int totalUnits = -1;       // Combo2
};

// How a reading of the settings file went.
struct SettingsLoadOutcome {
    bool opened = false;   // false: the file could not be read, nothing was applied
    bool complete = false; // false: reading stopped early at `stoppedAtLine`
    int stoppedAtLine = 0; // 1-based line whose reading or applying failed
};

constexpr int kSettingsLineCount = 43;
inline const QString kSettingsFileName = QStringLiteral("7700dwn.ini");
inline const QString kDefaultPalmDatabasePath = QStringLiteral("c:\\Palm\\UserName\\Backup\\PLOGR2.pdb");

// The 43 lines written when no settings file exists.
QByteArray defaultSettingsBytes();
// The file as written at exit from `snapshot`.
QByteArray settingsBytes(const SettingsSnapshot &snapshot);
// Reads `bytes` line by line by position into `target`, stopping at the first failure.
SettingsLoadOutcome applySettings(const QByteArray &bytes, SettingsTarget &target);

// The settings file in the program's own directory.
class SettingsFile {
public:
    explicit SettingsFile(QString programDir);

    QString path() const;
    bool exists() const;
    // Writes the default lines, replacing any file of that name.
    bool createDefault();
    // Makes the program's directory current and reads the file into `target`.
    SettingsLoadOutcome load(SettingsTarget &target);
    // Makes the program's directory current and replaces the file with `snapshot`.
    // A file whose reading stopped early is first kept as 7700dwn.ini.bak.
    bool save(const SettingsSnapshot &snapshot);
    QString lastError() const { return lastError_; }

private:
    QString programDir_;
    QString lastError_;
    bool keepDamagedCopy_ = false;
};

} // namespace ostrand

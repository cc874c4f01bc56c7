#pragma once

#include <QString>
#include <QStringList>

namespace ostrand {

inline const QString kSettingsFileName = QStringLiteral("7700dwn.ini");
// Settings of this program's own beside it, which the old file has no line for.
inline const QString kReplyTimeFileName = QStringLiteral("ostrand-link.ini");

// Where this run keeps its files, decided once at start-up.
struct FileLocations {
    QString programDir;  // the executable's folder
    QString settingsDir; // the settings file, its .bak and the COMn links port discovery writes
    QString dataDir;     // where a bare output file name goes
    bool portable = true;

    // Folders a COMn link is looked for in, first match wins; links are written to the first.
    QStringList comLinkDirs() const;
};

// Everything beside the program, as when run from a build folder or a USB stick.
FileLocations portableLocations(const QString &programDir);
// Portable when `programDir` already holds the settings file or the user may write
// there; otherwise the settings and links go to `userConfigDir` and bare output
// names to `homeDir`.
FileLocations chooseFileLocations(const QString &programDir, const QString &userConfigDir,
                                  const QString &homeDir);
// The choice for this process, against the window's per-user configuration folder
// (~/.config/ostrand-download), shared by all three programs. Creates nothing.
FileLocations fileLocationsAtStartUp();

} // namespace ostrand

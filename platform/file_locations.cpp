#include "file_locations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

namespace ostrand {
namespace {

// access() rather than the permission bits: it also knows about read-only mounts and ACLs.
bool userMayWrite(const QString &dir)
{
    return ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

} // namespace

QStringList FileLocations::comLinkDirs() const
{
    return portable ? QStringList{settingsDir} : QStringList{settingsDir, programDir};
}

FileLocations portableLocations(const QString &programDir)
{
    return {programDir, programDir, programDir, true};
}

FileLocations chooseFileLocations(const QString &programDir, const QString &userConfigDir,
                                  const QString &homeDir)
{
    // An operator's stick may be write-protected yet carry its own settings: those win.
    if (QFile::exists(QDir(programDir).filePath(kSettingsFileName)) || userMayWrite(programDir))
        return portableLocations(programDir);
    return {programDir, userConfigDir, homeDir, false};
}

FileLocations fileLocationsAtStartUp()
{
    // Spelled out instead of AppConfigLocation, which follows each program's own
    // application name: the command-line tools must find the window's COMn links.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return chooseFileLocations(QCoreApplication::applicationDirPath(),
                               QDir(config).filePath(QStringLiteral("ostrand-download")),
                               QDir::homePath());
}

} // namespace ostrand

#pragma once

#include "file_bytes.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <functional>

namespace ostrand::testing {

// What one run of ostrand-cli printed and how it ended.
struct CliRun {
    int exitCode = -1; // -1 also when it had to be killed
    QStringList lines;
    QString errors; // stderr
};

// Runs ostrand-cli (OSTRAND_CLI) in `workingDir` (this process's when empty)
// to its end, killing it after `timeoutMs`; `inChild` runs in the child before it starts.
inline CliRun runCli(const QStringList &arguments, const QString &workingDir = {},
                     int timeoutMs = 120000, const std::function<void()> &inChild = {})
{
    QProcess cli;
    cli.setWorkingDirectory(workingDir);
    if (inChild)
        cli.setChildProcessModifier(inChild);
    cli.start(QStringLiteral(OSTRAND_CLI), arguments);
    CliRun run;
    if (!cli.waitForFinished(timeoutMs))
        return run;
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.lines = QString::fromLocal8Bit(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.errors = QString::fromLocal8Bit(cli.readAllStandardError());
    return run;
}

} // namespace ostrand::testing

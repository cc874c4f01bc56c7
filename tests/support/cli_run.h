#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>

namespace ostrand::testing {

// What one run of ostrand-cli printed and how it ended.
struct CliRun {
    int exitCode = -1;
    QStringList lines;
};

// Runs ostrand-cli (OSTRAND_CLI) to its end, two minutes at the most.
inline CliRun runCli(const QStringList &arguments)
{
    QProcess cli;
    cli.start(QStringLiteral(OSTRAND_CLI), arguments);
    CliRun run;
    if (!cli.waitForFinished(120000))
        return run;
    run.exitCode = cli.exitCode();
    run.lines = QString::fromLocal8Bit(cli.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    return run;
}

// A file's bytes, empty when it cannot be read.
inline QByteArray readFileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace ostrand::testing

#pragma once

// What the end-to-end tests of collect share: simulated meters, stations files and ostrand-cli.
#include "cli_run.h"
#include "metersim_process.h"
#include "qt_printers.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ostrand::testing {

// The first station of a --report file.
inline QJsonObject stationReport(const QString &path)
{
    return QJsonDocument::fromJson(readFileBytes(path))["stations"][0].toObject();
}

// A stations file: [store] when `url` is given, then station [north] on `port` writing north.csv, and `more`.
inline QByteArray northStation(const QString &port, const QString &url = {}, const QString &more = {})
{
    return ((url.isEmpty() ? QString() : "[store]\nurl = " + url + "\n") + "[north]\nport = " + port
            + "\noutput = north.csv\n" + more).toUtf8();
}

// A meter's log file: `instants` instants `stepSeconds` apart from `first` ("yyyy-MM-dd HH:mm") on
// channels 1 and 2, channel c's value at instant i being base + c + i / 4.
inline QByteArray logFile(const QString &first, int instants, double base, int stepSeconds = 900)
{
    QByteArray text;
    QDateTime when = QDateTime::fromString(first, "yyyy-MM-dd HH:mm");
    for (int i = 0; i < instants; ++i, when = when.addSecs(stepSeconds)) {
        for (int channel = 1; channel <= 2; ++channel)
            text += QString("%1,%2,%3\n").arg(when.toString("yyyy-MM-dd HH:mm")).arg(channel).arg(base + channel + i / 4.0).toUtf8();
    }
    return text;
}

// Starts ostrand-cli with its lock in `runtimeDir`, as on a host of its own, and `environment` ("NAME=value") added.
inline void startCli(QProcess &process, const QStringList &arguments, const QString &runtimeDir,
                     const QStringList &environment = {})
{
    QProcessEnvironment added = QProcessEnvironment::systemEnvironment();
    added.insert("RUNTIME_DIRECTORY", runtimeDir);
    for (const QString &pair : environment)
        added.insert(pair.section('=', 0, 0), pair.section('=', 1));
    process.setProcessEnvironment(added);
    process.start(OSTRAND_CLI, arguments);
}

// How a started ostrand-cli ended, within `timeoutMs` (exit code -1 when it did not).
inline CliRun finished(QProcess &process, int timeoutMs = 120000)
{
    CliRun run;
    process.waitForFinished(timeoutMs); // false too when it had already finished
    if (process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

} // namespace ostrand::testing

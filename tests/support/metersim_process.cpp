#include "metersim_process.h"

#include <QDir>
#include <QElapsedTimer>

namespace ostrand::testing {

bool MeterSimProcess::start(const QString &dir, const QStringList &arguments, const QString &linkName)
{
    linkPath_ = QDir(dir).filePath(linkName);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(OSTRAND_METERSIM), QStringList{QStringLiteral("--link"), linkPath_} + arguments);
    if (!process_.waitForStarted(5000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        for (const QString &line : lines()) {
            if (line.startsWith(QLatin1String("ready ")))
                return true;
        }
        process_.waitForReadyRead(100);
    }
    return false;
}

MeterSimProcess::~MeterSimProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000))
            process_.kill();
        process_.waitForFinished(1000);
    }
}

QStringList MeterSimProcess::lines()
{
    partial_ += process_.readAllStandardOutput();
    int newline;
    while ((newline = partial_.indexOf('\n')) >= 0) {
        lines_ << QString::fromUtf8(partial_.left(newline)).trimmed();
        partial_.remove(0, newline + 1);
    }
    return lines_;
}

} // namespace ostrand::testing

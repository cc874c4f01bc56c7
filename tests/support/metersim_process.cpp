#include "metersim_process.h"
#include "pseudo_terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace ostrand::testing {

namespace {

void splitLines(QByteArray &partial, QStringList &into)
{
    for (int newline; (newline = partial.indexOf('\n')) >= 0; partial.remove(0, newline + 1))
        into << QString::fromUtf8(partial.left(newline)).trimmed();
}

} // namespace

bool MeterSimProcess::start(const QString &dir, const QStringList &arguments, const QString &linkName)
{
    linkPath_ = QDir(dir).filePath(linkName);
    process_.start(QStringLiteral(OSTRAND_METERSIM), QStringList{QStringLiteral("--link"), linkPath_} + arguments);
    if (waitFor(QStringLiteral("ready "), 1, 10000))
        return true;
    qWarning("ostrand-metersim did not get ready: %s", qPrintable(trace().join(u'\n')));
    return false;
}

bool MeterSimProcess::start(const QStringList &arguments)
{
    return start(ownDir_.path(), QStringList{QStringLiteral("--verbose")} + arguments);
}

MeterSimProcess::~MeterSimProcess()
{
    stop();
}

int MeterSimProcess::stop()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(1000);
            return -1;
        }
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QStringList MeterSimProcess::lines()
{
    partial_ += process_.readAllStandardOutput();
    splitLines(partial_, lines_);
    return lines_;
}

QStringList MeterSimProcess::trace()
{
    // The trace is asked for after the fact: collect until it has been quiet for a moment.
    process_.setReadChannel(QProcess::StandardError);
    while (process_.state() == QProcess::Running && process_.waitForReadyRead(100))
        partialTrace_ += process_.readAllStandardError();
    process_.setReadChannel(QProcess::StandardOutput);
    partialTrace_ += process_.readAllStandardError();
    splitLines(partialTrace_, trace_);
    return trace_;
}

bool MeterSimProcess::waitFor(const QString &line, int times, int timeoutMs)
{
    QElapsedTimer wait;
    wait.start();
    const auto seen = [&] {
        const QStringList all = lines();
        return std::count_if(all.begin(), all.end(), [&](const QString &l) { return l.startsWith(line); }) >= times;
    };
    while (!seen() && wait.elapsed() < timeoutMs && process_.state() != QProcess::NotRunning) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        process_.waitForReadyRead(20);
    }
    return seen();
}

QByteArray MeterSimProcess::exchange(const QByteArray &request, int replyBytes, int timeoutMs)
{
    const int fd = ::open(QFile::encodeName(linkPath_).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    QByteArray got;
    if (::write(fd, request.constData(), size_t(request.size())) == request.size())
        got = readFor(fd, replyBytes, timeoutMs, true);
    ::close(fd);
    return got;
}

} // namespace ostrand::testing

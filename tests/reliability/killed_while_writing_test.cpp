#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Kills the writer at random moments, many times over, and looks at what it left.
void killRepeatedly(const char *mode, const QString &fileName)
{
    QTemporaryDir dir;
    for (int round = 0; round < 12; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(OSTRAND_WRITE_FOREVER), {QLatin1String(mode), dir.path()});
        ASSERT_TRUE(writer.waitForReadyRead(20000)) << "the writer never wrote";
        QThread::msleep(QRandomGenerator::global()->bounded(1, 60));
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        writer.waitForFinished(5000);

        const QByteArray left = readAll(QDir(dir.path()).filePath(fileName));
        const QByteArray a = readAll(dir.filePath(QStringLiteral("expected-0")));
        const QByteArray b = readAll(dir.filePath(QStringLiteral("expected-1")));
        EXPECT_TRUE(left == a || left == b)
            << mode << " round " << round << ": " << left.size() << " bytes left, expected " << a.size()
            << " or " << b.size();
    }
}

} // namespace

TEST(KilledWhileWriting, theOutputFileIsAlwaysTheOldOneOrTheCompleteNewOne)
{
    killRepeatedly("output", QStringLiteral("Logdata.csv"));
}

TEST(KilledWhileWriting, theSettingsFileIsAlwaysTheOldOneOrTheCompleteNewOne)
{
    killRepeatedly("settings", QStringLiteral("7700dwn.ini"));
}

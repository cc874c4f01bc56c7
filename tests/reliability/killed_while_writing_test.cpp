#include "file_bytes.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

using ostrand::testing::readFileBytes;

// Kills the writer at random moments, many times over: each time it left one of its two contents, whole.
TEST(KilledWhileWriting, theOutputAndTheSettingsFileAreAlwaysTheOldOneOrTheCompleteNewOne)
{
    for (const auto &[mode, fileName] : {std::pair{"output", "Logdata.csv"}, {"settings", "7700dwn.ini"}}) {
        QTemporaryDir dir;
        for (int round = 0; round < 12; ++round) {
            QProcess writer;
            writer.start(QStringLiteral(OSTRAND_WRITE_FOREVER), {QLatin1String(mode), dir.path()});
            ASSERT_TRUE(writer.waitForReadyRead(20000)) << "the writer never wrote";
            QThread::msleep(QRandomGenerator::global()->bounded(1, 60));
            ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
            writer.waitForFinished(5000);
            const QByteArray left = readFileBytes(dir.filePath(QLatin1String(fileName)));
            EXPECT_TRUE(left == readFileBytes(dir.filePath("expected-0")) || left == readFileBytes(dir.filePath("expected-1")))
                << mode << " round " << round << ": " << left.size() << " bytes left";
        }
    }
}

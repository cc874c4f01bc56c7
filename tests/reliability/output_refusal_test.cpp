// Outputs that cannot take the file, or are not files at all: the program must
// say so, keep what was there and never replace a node it did not create.
#include "cli_run.h"
#include "qt_printers.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace ostrand::testing;

namespace {

CliRun convertTo(const QString &output, rlim_t fileSizeLimit = RLIM_INFINITY)
{
    return runCli({"palm", "--pdb", OSTRAND_SAMPLE_PDB, "--modid", "3", "--output", output}, {}, 60000,
                  [fileSizeLimit] {
                      const rlimit limit{fileSizeLimit, fileSizeLimit};
                      ::setrlimit(RLIMIT_FSIZE, &limit);
                  });
}

class OutputRefusal : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const CliRun reference = convertTo(dir.filePath("reference.csv"));
        ASSERT_EQ(reference.exitCode, 0) << reference.errors.toStdString();
        expected = readFileBytes(dir.filePath("reference.csv"));
        ASSERT_GT(expected.size(), 8192) << "the sample must be larger than the limits below";
    }

    QTemporaryDir dir;
    QByteArray expected;
};

TEST_F(OutputRefusal, aWriteThatFailsPartWayKeepsThePreviousFileWholeAndSaysWhy)
{
    const QString path = dir.filePath("limited.csv");
    writeFileBytes(path, "previous download\r\n");
    const CliRun run = convertTo(path, 4096);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.lines.value(run.lines.size() - 1), "Error putting into file!!");
    EXPECT_TRUE(run.errors.contains("File too large")) << run.errors.toStdString();
    EXPECT_EQ(readFileBytes(path), "previous download\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"limited.csv", "reference.csv"}));
}

TEST_F(OutputRefusal, namesThatCannotTakeTheFileAreRefusedBeforeAnyWork)
{
    const QString readOnly = dir.filePath("read-only.csv");
    writeFileBytes(readOnly, "previous download\r\n");
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup));
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.csv"));
    const QString unread = dir.filePath("unread-pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(unread).constData(), 0600), 0);
    const struct {
        const char *what;
        QString path;
        int exitCode;
        const char *reason;
    } cases[] = {
        {"an empty name", QString(), 64, "needs a file name"},
        {"a folder", dir.filePath("folder.csv"), 3, "is a folder"},
        {"a missing folder", dir.filePath("no/such/x.csv"), 3, "does not exist"},
        {"a read-only file, even for root", readOnly, 3, "read-only"},
        {"a pipe no program reads", unread, 3, "no program is reading the pipe"},
    };
    for (const auto &c : cases) {
        const CliRun palm = convertTo(c.path);
        EXPECT_EQ(palm.exitCode, c.exitCode) << c.what;
        EXPECT_TRUE(palm.errors.contains(c.reason)) << c.what << ": " << palm.errors.toStdString();
        EXPECT_FALSE(palm.lines.contains("Reading Palm DataBase")) << c.what;
        // A port that does not exist: only a check made before the meter is
        // asked can end in the file's status rather than the download's.
        const CliRun download = runCli({"download", "--port", dir.filePath("no-such-tty"), "--output", c.path});
        EXPECT_EQ(download.exitCode, c.exitCode) << c.what;
        EXPECT_FALSE(download.lines.contains("Downloading")) << c.what;
    }
    EXPECT_EQ(readFileBytes(readOnly), "previous download\r\n");
    EXPECT_EQ(QFileInfo(readOnly).permissions() & QFile::WriteOwner, 0);
}

// Nodes the program did not create: a reader (`cat`) already waits on the pipe, so the early
// check must not hand it an end of file before the rows come; the null device is a private one,
// so a regression replaces it and not /dev/null.
TEST_F(OutputRefusal, aPipeAndACharacterDeviceAreWrittenInPlaceNotReplaced)
{
    const QString fifo = dir.filePath("pipe"), device = dir.filePath("null");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess reader;
    reader.start("cat", {fifo});
    ASSERT_TRUE(reader.waitForStarted());
    const bool haveDevice = ::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    for (const QString &node : haveDevice ? QStringList{fifo, device} : QStringList{fifo}) {
        const CliRun run = convertTo(node);
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(node).constData(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) << node.toStdString() << " was replaced by a file";
    }
    ASSERT_TRUE(reader.waitForFinished(10000));
    EXPECT_EQ(reader.readAllStandardOutput(), expected);
}

TEST_F(OutputRefusal, theOutputCannotBeTheDatabaseItIsConvertedFrom)
{
    const QString pdb = dir.filePath("PLOGR2.PDB");
    ASSERT_TRUE(QFile::copy(OSTRAND_SAMPLE_PDB, pdb));
    ASSERT_TRUE(QFile::link(pdb, dir.filePath("link.csv")));
    ASSERT_EQ(::link(QFile::encodeName(pdb).constData(), QFile::encodeName(dir.filePath("hard.csv")).constData()), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    const QByteArray original = readFileBytes(pdb);
    for (const QString &output : {pdb, dir.filePath("link.csv"), dir.filePath("hard.csv"), dir.filePath("sub/../PLOGR2.PDB")}) {
        const CliRun run = runCli({"palm", "--pdb", pdb, "--all", "--output", output});
        EXPECT_EQ(run.exitCode, 3) << output.toStdString();
        EXPECT_EQ(run.lines, QStringList{"Error putting into file!!"}) << output.toStdString();
        EXPECT_TRUE(run.errors.contains(output) && run.errors.contains(pdb)) << run.errors.toStdString();
    }
    EXPECT_EQ(readFileBytes(pdb), original);
}

} // namespace

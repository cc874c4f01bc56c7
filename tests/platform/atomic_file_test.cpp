#include "platform/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class AtomicFileWrite : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString pathOf(const QString &name) const { return dir.filePath(name); }
    QStringList filesInDir() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QTemporaryDir dir;
};

TEST_F(AtomicFileWrite, WritesExactlyTheBytesGivenReplacingALongerOldFileWithNoTemporaryLeft)
{
    const QByteArray bytes("a,b\r\n\0\xff", 7);
    QString error;
    ASSERT_TRUE(writeFileAtomically(pathOf("out.csv"), QByteArray(1000, 'x')));
    ASSERT_TRUE(writeFileAtomically(pathOf("out.csv"), bytes, &error)) << error.toStdString();
    EXPECT_EQ(contentOf(pathOf("out.csv")), bytes);
    EXPECT_EQ(filesInDir(), QStringList{"out.csv"});
}

TEST_F(AtomicFileWrite, FailsWithAReasonWhenTheFolderDoesNotExist)
{
    QString error;
    EXPECT_FALSE(writeFileAtomically(pathOf("missing/out.csv"), "data", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(pathOf("missing/out.csv")));
}

TEST_F(AtomicFileWrite, FailingLeavesTheExistingFileAsItWas)
{
    // A name at the length limit has no room for the temporary file's suffix,
    // so the write fails beside an existing file even for a superuser.
    const QString longName(255, u'n');
    QFile old(pathOf(longName));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();

    QString error;
    EXPECT_FALSE(writeFileAtomically(pathOf(longName), "new", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(contentOf(pathOf(longName)), QByteArray("old content"));
    EXPECT_EQ(filesInDir(), QStringList{longName});
}

TEST_F(AtomicFileWrite, FailingInAReadOnlyFolderLeavesTheExistingFileAsItWas)
{
    ASSERT_TRUE(writeFileAtomically(pathOf("out.csv"), "old content"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    const bool writable = QFile(pathOf("probe")).open(QIODevice::WriteOnly);
    if (writable) {
        QFile::remove(pathOf("probe"));
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        GTEST_SKIP() << "running with rights that ignore folder permissions";
    }

    QString error;
    EXPECT_FALSE(writeFileAtomically(pathOf("out.csv"), "new", &error));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(contentOf(pathOf("out.csv")), QByteArray("old content"));
    EXPECT_EQ(filesInDir(), QStringList{"out.csv"});
}

} // namespace
} // namespace ostrand

#include "platform/file_identity.h"
#include "platform/kept_copy.h"
#include "platform/save_file.h"
#include "platform/small_file.h"
#include "platform/text_value.h"
#include "file_bytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand {
namespace {

TEST(TextValue, NumbersAreReadFromTheStartAndHalvesRoundToTheEvenNeighbour)
{
    const std::pair<const char *, double> cases[] = {
        {"001", 1}, {"12ab", 12}, {" -2.5x", -2.5}, {".5", 0.5}, {"abc", 0}, {"-", 0}, {"x12", 0}};
    for (const auto &[text, value] : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(text), value) << text;
    const std::pair<double, double> rounding[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4},
                                               {2.4, 2}, {2.6, 3}, {-2.6, -3}};
    for (const auto &[value, rounded] : rounding)
        EXPECT_EQ(roundHalfEven(value), rounded) << value;
    // Sixteen-bit values are rounded into range or refused, never wrapped.
    const std::optional<qint16> none;
    const std::pair<const char *, std::optional<qint16>> leading[] = {
        {"32767", 32767}, {"-32768.5", -32768}, {"12ab", 12},      {"abc", 0},
        {"32768", none},  {"32767.5", none},    {"1000000", none}, {"-32769", none}};
    for (const auto &[text, value] : leading)
        EXPECT_EQ(leadingNumberAsInt16(text), value) << text;
    const std::pair<const char *, std::optional<qint16>> whole[] = {
        {" 1", 1},  {"-1", -1},   {"2.5", 2},    {"3.5 ", 4},    {"1x", none},
        {"", none}, {"  ", none}, {"abc", none}, {"40000", none}};
    for (const auto &[text, value] : whole)
        EXPECT_EQ(wholeTextAsInt16(text), value) << text;
}

TEST(AtomicFileWrite, ReplacesTheFileExactlyOrOnFailureGivesAReasonAndLeavesTheOldOneAndNoTemporary)
{
    QTemporaryDir dir;
    const QByteArray bytes("a,b\r\n\0\xff", 7);
    ASSERT_TRUE(saveFile(dir.filePath("out.csv"), QByteArray(1000, 'x')));
    ASSERT_TRUE(saveFile(dir.filePath("out.csv"), bytes));
    EXPECT_EQ(testing::readFileBytes(dir.filePath("out.csv")), bytes);
    // A name at the length limit has no room for the temporary file's suffix, so the write
    // fails beside an existing file even for a superuser.
    const QString longName(255, u'n');
    QFile old(dir.filePath(longName));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    for (const QString &path : {dir.filePath(longName), dir.filePath("missing/out.csv")}) {
        QString error;
        EXPECT_FALSE(saveFile(path, "new", &error)) << path.toStdString();
        EXPECT_FALSE(error.isEmpty()) << path.toStdString();
    }
    EXPECT_EQ(testing::readFileBytes(dir.filePath(longName)), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{longName, "out.csv"}));
}

// Where hard links are not to be had, a file is kept by a copy that looks as it did.
TEST(KeptCopy, ACopyAsNewHasTheBytesModeAndDateOfTheFileAndNeverWritesOverAName)
{
    QTemporaryDir dir;
    const QString from = dir.filePath("Logdata.csv"), to = dir.filePath("Logdata.csv.1");
    const QByteArray bytes = QByteArray("a,b\r\n\0\xff", 7).repeated(20000); // beyond one buffer
    ASSERT_TRUE(saveFile(from, bytes));
    ASSERT_EQ(::chmod(QFile::encodeName(from).constData(), 0640), 0);
    const struct timespec times[2] = {{1'600'000'000, 5}, {1'600'000'100, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(from).constData(), times, 0), 0);
    const mode_t mask = ::umask(077); // a umask that would narrow the mode
    QString error;
    const bool copied = copyFileAsNew(from, to, &error);
    ::umask(mask);
    ASSERT_TRUE(copied) << qPrintable(error);
    EXPECT_EQ(testing::readFileBytes(to), bytes);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(to).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'100);
    EXPECT_EQ(st.st_mtim.tv_nsec, 7);

    ASSERT_TRUE(saveFile(to, "kept before"));
    EXPECT_FALSE(copyFileAsNew(from, to, &error));
    EXPECT_TRUE(error.contains(to)) << qPrintable(error);
    EXPECT_EQ(testing::readFileBytes(to), "kept before");
    EXPECT_FALSE(copyFileAsNew(dir.filePath("missing.csv"), dir.filePath("missing.csv.1"), &error));
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.csv.1")));
}

TEST(SameFile, NamesMeetThroughLinkedFoldersLinksAndHardLinksWhetherOrNotTheFileExists)
{
    QTemporaryDir dir;
    const auto at = [&](const char *name) { return dir.filePath(name); };
    ASSERT_TRUE(QDir(dir.path()).mkdir("data") && QFile::link(at("data"), at("alias")));
    ASSERT_TRUE(QFile(at("data/a.csv")).open(QIODevice::WriteOnly) && QFile(at("data/b.csv")).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link("a.csv", at("data/link.csv")) && QFile::link(at("data/new.csv"), at("dangling.csv")));
    ASSERT_EQ(::link(QFile::encodeName(at("data/a.csv")).constData(), QFile::encodeName(at("data/hard.csv")).constData()), 0);
    const struct { const char *a, *b; bool same; } cases[] = {
        {"data/a.csv", "alias/a.csv", true},    {"data/new.csv", "alias/new.csv", true}, {"data/a.csv", "data/hard.csv", true},
        {"data/a.csv", "data/link.csv", true},  {"dangling.csv", "data/new.csv", true},  {"data/a.csv", "data/b.csv", false},
        {"data/new.csv", "data/old.csv", false}, {"data/new.csv", "new.csv", false},     {"data/a.csv", "data/new.csv", false},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(sameFile(at(c.a), at(c.b)) == c.same && sameFile(at(c.b), at(c.a)) == c.same) << c.a << " and " << c.b;
}

// A file read whole is read to its end however its size stands to the limit, a byte past the limit
// refused; a link is read through or refused as the caller asks.
TEST(SmallFileRead, readsUpToTheLimitAndRefusesALinkWhenAsked)
{
    QTemporaryDir dir;
    const auto make = [&](const QString &name, qsizetype size) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        return dir.filePath(name);
    };
    constexpr qint64 kLimit = 100000;
    const struct {
        qsizetype size;
        FileState state;
    } sizes[] = {{0, FileState::Regular}, {1, FileState::Regular}, {kLimit, FileState::Regular},
                 {kLimit + 1, FileState::TooLarge}};
    for (const auto &row : sizes) {
        for (const Links links : {Links::Follow, Links::Refuse}) {
            const SmallFile file = readSmallFile(make(QString::number(row.size), row.size), kLimit, links);
            EXPECT_EQ(file.check.state, row.state) << row.size;
            EXPECT_EQ(file.bytes.size(), row.state == FileState::Regular ? row.size : 0) << row.size;
        }
    }
    const QString target = make("target", 10);
    ASSERT_TRUE(QFile::link(target, dir.filePath("link")));
    EXPECT_EQ(readSmallFile(dir.filePath("link"), kLimit, Links::Follow).bytes.size(), 10);
    const SmallFile refused = readSmallFile(dir.filePath("link"), kLimit, Links::Refuse);
    EXPECT_EQ(refused.check.state, FileState::NotRegular);
    EXPECT_EQ(refused.check.problem, dir.filePath("link") + " is a symbolic link");
    EXPECT_EQ(readSmallFile(dir.filePath("none"), kLimit, Links::Refuse).check.state, FileState::Missing);
}

} // namespace
} // namespace ostrand

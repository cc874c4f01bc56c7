#include "platform/file_identity.h"
#include "platform/save_file.h"
#include "platform/small_file.h"
#include "platform/text_value.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
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

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

TEST(AtomicFileWrite, ReplacesTheFileExactlyOrOnFailureGivesAReasonAndLeavesTheOldOneAndNoTemporary)
{
    QTemporaryDir dir;
    const QByteArray bytes("a,b\r\n\0\xff", 7);
    ASSERT_TRUE(saveFile(dir.filePath("out.csv"), QByteArray(1000, 'x')));
    ASSERT_TRUE(saveFile(dir.filePath("out.csv"), bytes));
    EXPECT_EQ(contentOf(dir.filePath("out.csv")), bytes);
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
    EXPECT_EQ(contentOf(dir.filePath(longName)), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{longName, "out.csv"}));
}

// Names that a write through either would put into one file, and names that would not.
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

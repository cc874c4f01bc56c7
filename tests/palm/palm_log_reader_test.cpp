#include "palm/palm_log_reader.h"
#include "palm_test_support.h"

#include <QBuffer>

namespace ostrand::testing
{
namespace
{

QByteArray recordOf(int modId, bool sync = true)
{
    PalmRecordFields fields;
    fields.modId = modId;
    fields.sync = sync;
    return palmRecord(fields);
}

PalmDatabaseBuilder databaseOf(std::initializer_list<int> modIds)
{
    PalmDatabaseBuilder pdb;
    for (const int id : modIds)
        pdb.add(recordOf(id));
    return pdb;
}

// The ModID of every record read, negative for one without the sync pair;
// nothing at all when no first record was found.
std::vector<int> readAll(const QByteArray &file,
                         qint64 blockSize = PalmLogReader::kDefaultBlockSize)
{
    QBuffer buffer;
    buffer.setData(file);
    PalmLogReader reader(blockSize);
    std::vector<int> ids;
    EXPECT_EQ(reader.open(buffer), DownloadResult::Complete);
    if (!reader.findFirstRecord())
        return ids;
    PalmLogRecord record;
    while (reader.readNextRecord(record))
        ids.push_back(record.hasSync() ? record.modId : -record.modId);
    EXPECT_FALSE(reader.failed());
    return ids;
}

TEST(PalmLogReader, FindsASyncPairThatStraddlesTheThousandByteBoundaryWhateverTheReadSize)
{
    const QByteArray records = recordOf(4) + recordOf(5);
    for (const int syncAt : {999, 1000}) {
        const QByteArray file = QByteArray(syncAt, '\x01') + records;
        EXPECT_EQ(readAll(file), (std::vector<int>{4, 5})) << syncAt;
        EXPECT_EQ(readAll(file, 1000), (std::vector<int>{4, 5})) << "blocks of 1000, " << syncAt;
    }
    const QByteArray five = databaseOf({1, 2, 3, 4, 5}).build();
    for (qint64 blockSize = 1; blockSize <= 70; ++blockSize)
        EXPECT_EQ(readAll(five, blockSize), (std::vector<int>{1, 2, 3, 4, 5})) << blockSize;
}

TEST(PalmLogReader, SkipsHeaderAndPartialRecordsAndHandsOnABadSyncInTheMiddle)
{
    EXPECT_TRUE(readAll(PalmDatabaseBuilder().build()).empty()) << "header only";
    EXPECT_TRUE(readAll(QByteArray()).empty());
    PalmDatabaseBuilder trailing = databaseOf({1, 2, 3});
    EXPECT_EQ(readAll(trailing.add(recordOf(9).left(5)).build()), (std::vector<int>{1, 2, 3}));
    PalmDatabaseBuilder badSync;
    badSync.add(recordOf(1)).add(recordOf(2, false)).add(recordOf(3));
    EXPECT_EQ(readAll(badSync.build()), (std::vector<int>{1, -2, 3}));
    // Unique ID 0x00AA55 puts a sync pair in the record list, before the first record.
    PalmDatabaseBuilder listed = databaseOf({1, 2, 3, 4, 5, 6, 7, 8});
    const QByteArray file = listed.uniqueIdSeed(0x00AA50).build();
    ASSERT_LT(file.indexOf("\xAA\x55"), file.indexOf(recordOf(1)));
    EXPECT_EQ(readAll(file), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(PalmLogReader, TakesOnlyAHeaderWhoseFieldsAndRecordListFitTheFileForADatabase)
{
    const QByteArray good = databaseOf({1, 2, 3}).build();
    const auto changed = [&](int at, QByteArray bytes) {
        return QByteArray(good).replace(at, bytes.size(), bytes);
    };
    const std::pair<QByteArray, bool> cases[] = {
        {good, true},
        {good.left(good.size() - 40), true}, // cut short: the list is whole
        {PalmDatabaseBuilder().build(), true},
        {changed(0, QByteArray(32, 'P')), false},        // name without its NUL
        {changed(33, "\x01"), false},                    // a resource database
        {changed(60, "DAT\x01"), false},                 // type not text
        {changed(76, QByteArray("\x00\xFF", 2)), false}, // list longer than the file
        {changed(78 + 8 + 3, "\x01"), false},            // second offset before the first
        {good.left(77), false},
        {QByteArray(4000, char(0xAA)), false}};
    for (const auto &[file, database] : cases) {
        QBuffer buffer;
        buffer.setData(file);
        PalmLogReader reader;
        ASSERT_EQ(reader.open(buffer), DownloadResult::Complete);
        EXPECT_EQ(reader.looksLikeDatabase(), database) << file.left(80).toHex().toStdString();
    }
}

TEST(PalmLogReader, ReportsAReadErrorInsteadOfAnEndOfFile)
{
    const QByteArray file = databaseOf({1, 2, 3, 4}).build();
    const qint64 firstRecordAt = file.indexOf(recordOf(1));
    for (const qint64 failAt : {qint64(0), firstRecordAt + 40}) {
        FailingDevice device(file, failAt);
        PalmLogReader reader(16);
        ASSERT_EQ(reader.open(device), DownloadResult::Complete);
        int records = 0;
        PalmLogRecord record;
        if (reader.findFirstRecord()) {
            while (reader.readNextRecord(record))
                ++records;
        }
        EXPECT_TRUE(reader.failed()) << failAt;
        EXPECT_LE(records, 1) << failAt;
    }
}

} // namespace
} // namespace ostrand::testing

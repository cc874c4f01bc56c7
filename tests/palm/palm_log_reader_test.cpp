#include "palm/palm_log_reader.h"
#include "palm_test_support.h"

namespace ostrand::testing {
namespace {

QByteArray rec(int modId)
{
    return palmRecord(modId, 1, "Flow", at(5, 9, 30), 100);
}

QByteArray database(std::vector<int> modIds, quint32 seed = 0x500001)
{
    PalmDatabaseBuilder pdb{{}, seed};
    for (const int id : modIds)
        pdb.add(rec(id));
    return pdb.build();
}

TEST(PalmLogReader, FindsTheFirstRecordWhereverTheSyncPairFallsAndReadsOnFromThere)
{
    QByteArray badSync = database({1, 2, 3});
    badSync[78 + 3 * 8 + 2 + 32] = char(0xAB);
    const struct {
        const char *what;
        QByteArray file;
        std::vector<int> ids; // negative for a record without the sync pair
        qint64 split = -1;
    } cases[] = {
        // With chunks of 1000 the second read ends on the 0xAA: the byte after
        // it in memory is left over from the first read, not the file's 0x55.
        {"the pair split across two reads", QByteArray(1499, '\1') + rec(4) + rec(5), {4, 5}, 1500},
        {"the pair at a chunk's start", QByteArray(1000, '\1') + rec(4) + rec(5), {4, 5}},
        {"a database", database({1, 2, 3, 4, 5}), {1, 2, 3, 4, 5}},
        {"a header alone", database({}), {}},
        {"nothing", {}, {}},
        {"a cut-off last record", database({1, 2, 3}) + rec(9).left(5), {1, 2, 3}},
        {"a bad sync mid-file", badSync, {1, -2, 3}},
        // Unique ID 0x00AA55 puts a sync pair in the record list.
        {"a sync pair before the first record",
         database({1, 2, 3, 4, 5, 6}, 0xAA50),
         {1, 2, 3, 4, 5, 6}},
    };
    for (const auto &c : cases) {
        for (const qint64 blockSize :
             {PalmLogReader::kDefaultBlockSize, qint64(1000), qint64(1), qint64(31), qint64(33)}) {
            SplitBuffer file(c.file, c.split);
            PalmLogReader reader(blockSize);
            ASSERT_EQ(reader.open(file), DownloadResult::Complete);
            std::vector<int> ids;
            PalmLogRecord record;
            if (reader.findFirstRecord())
                while (reader.readNextRecord(record))
                    ids.push_back(record.hasSync() ? record.modId : -record.modId);
            EXPECT_FALSE(reader.failed());
            EXPECT_EQ(ids, c.ids) << c.what << ", chunks of " << blockSize;
        }
    }
}

} // namespace
} // namespace ostrand::testing

#include "palm/palm_conversion.h"
#include "palm/palm_import.h"
#include "palm/palm_log_reader.h"
#include "palm_test_support.h"

namespace ostrand::testing {
namespace {

QByteArray rec(int channel, const QDateTime &when, float value, const QByteArray &name = "Flow",
               int modId = 1)
{
    return palmRecord(modId, channel, name, when, value);
}

QByteArray with(QByteArray record, int at, int byte)
{
    record[at] = char(byte);
    return record;
}

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

class PalmConversion : public PalmTest {
protected:
    void reset(const char *selected) // every meter's records when null
    {
        grid.clear(), state = GridState(), view.separate = selected != nullptr, view.listText = selected;
    }
    DownloadResult convert(std::vector<QByteArray> records, ResultsGrid *into = nullptr)
    {
        write(PalmDatabaseBuilder{records});
        return convertPalmDatabase({pdbPath()},
                                   {into ? *into : grid, state, view, display, pump, clock});
    }
};

TEST_F(PalmConversion, GivesEachTimeStampItsOwnRowAndKeepsTheSelectedMetersRecords)
{
    const QDateTime midnight(QDate(2007, 12, 5), QTime(0, 0)); // the meter's end of the 5th
    const struct {
        const char *what;
        std::vector<QByteArray> records;
        QStringList rows;               // record number to channel 3
        const char *selected = nullptr;
        QStringList listed = {};
    } cases[] = {
        {"channels of one stamp share a row",
         {rec(1, at(5, 10, 0), 1.5f), rec(2, at(5, 10, 0), 2, "Level"), rec(3, at(5, 10, 0), -3),
          rec(1, at(5, 10, 15), 4.25f)},
         {"1,12/05/2007 10:00,1.5,2,-3", "2,12/05/2007 10:15,4.25,,"}},
        {"an impossible day keeps the date before",
         {rec(1, QDateTime(QDate(2099, 12, 31), QTime(23, 59)), 1),
          with(rec(1, at(5, 10, 15), 2), 24, 0x1A),
          rec(1, QDateTime(QDate(2000, 1, 1), QTime(13, 5)), 3)},
         {"1,12/31/2099 23:59,1,,", "2,12/31/2099 10:15,2,,", "3,01/01/2000 13:05,3,,"}},
        {"midnight is dated the next day, the same minute a day later is a new row",
         {rec(1, at(5, 23, 45), 1), rec(1, midnight, 2), rec(2, midnight, 7),
          rec(1, at(6, 23, 45), 3)},
         {"1,12/05/2007 23:45,1,,", "2,12/06/2007 00:00,2,7,", "3,12/06/2007 23:45,3,,"}},
        {"a first record at midnight", {rec(1, midnight, 9)}, {"1,12/06/2007 00:00,9,,"}},
        {"no sync or an unknown channel code: skipped",
         {with(rec(1, at(5, 9, 0), 1), 0, 0xAB), with(rec(1, at(5, 9, 1), 1), 7, 0x90),
          with(rec(1, at(5, 9, 2), 1), 7, 0x15), with(rec(1, at(5, 9, 3), 1), 7, 0),
          rec(2, at(5, 10, 0), 1)},
         {"1,12/05/2007 10:00,,1,"}},
        {"one meter kept, the others listed",
         {rec(1, at(5, 10, 0), 1, "Flow", 3), rec(1, at(5, 10, 0), 2, "Flow", 7),
          rec(1, at(5, 10, 15), 3, "Flow", 3), rec(1, at(5, 10, 30), 4, "Flow", 12)},
         {"1,12/05/2007 10:00,1,,", "2,12/05/2007 10:15,3,,"},
         "3 north",
         {"7", "12"}},
    };
    for (const auto &c : cases) {
        reset(c.selected);
        view.entries.clear();
        EXPECT_EQ(convert(c.records), DownloadResult::Complete) << c.what;
        QStringList rows;
        for (int r = 2; r <= state.lastGridRow; ++r)
            rows << grid.rowTexts(r).mid(0, 5).join(',');
        EXPECT_EQ(rows, c.rows) << c.what;
        EXPECT_EQ(view.entries, c.listed) << c.what;
    }
}

TEST_F(PalmConversion, SaysWhichMetersNameAChannelDifferentlyWhenTheirRecordsShareItsColumn)
{
    const QDateTime t = at(5, 10, 0);
    const QByteArray filler(10, char(0xFF));
    const struct {
        const char *what;
        std::vector<QByteArray> records;
        QStringList details;
        const char *selected = nullptr;
    } cases[] = {
        {"two meters, two names",
         {rec(2, t, 1, "Level", 3), rec(2, t, 1, "Level", 3), rec(2, t, 1, "Velocity", 7)},
         {"meters 3 and 7 label channel 2 differently (Level, Velocity): one column holds both"}},
        {"the same name", {rec(2, t, 1, "Level", 3), rec(2, t, 1, "Level", 7)}, {}},
        {"filler and Not Used name nothing",
         {rec(2, t, 1, "Level", 3), rec(2, t, 1, filler, 7), rec(2, t, 1, "Not Used", 9)}, {}},
        {"a meter renaming its own channel", {rec(2, t, 1, "Level", 3), rec(2, at(5, 10, 15), 1, "Renamed", 3)}, {}},
        {"three meters on two channels",
         {rec(1, t, 1, "Flow", 3), rec(1, t, 1, "Flow", 9), rec(1, t, 1, "Velocity", 7), rec(3, t, 1, "A", 3),
          rec(3, t, 1, "B", 7), rec(3, t, 1, "C", 9)},
         {"meters 3, 9 and 7 label channel 1 differently (Flow, Velocity): one column holds both; "
          "meters 3, 7 and 9 label channel 3 differently (A, B, C): one column holds all of them"}},
        {"one meter's records kept", {rec(2, t, 1, "Level", 3), rec(2, t, 1, "Velocity", 7)}, {}, "3"},
    };
    for (const auto &c : cases) {
        reset(c.selected);
        display.details.clear();
        EXPECT_EQ(convert(c.records), DownloadResult::Complete) << c.what;
        EXPECT_EQ(display.details, c.details) << c.what;
    }
}

TEST_F(PalmConversion, NamesChannelsFromTheirFirstRecordWithTotNotUsedAndFillerNames)
{
    state.channel(4).inUse = true;
    state.channel(5) = Channel{"From before", true, true};
    display.labels[7] = "From before";
    convert({rec(1, at(5, 10, 0), 1234.9f, "Flow Tot"), rec(2, at(5, 10, 0), 2, "Level"),
             rec(3, at(5, 10, 0), 1234.5f, "flow total"), rec(4, at(5, 10, 0), 5, "Not Used  "),
             rec(5, at(5, 10, 0), 2.5f, QByteArray(10, char(0xFF))),
             rec(2, at(5, 10, 15), 3, "Renamed")});
    EXPECT_EQ(grid.rowTexts(1).mid(2, 4), QStringList({"Flow Tot", "Level", "flow total", ""}));
    EXPECT_EQ(grid.rowTexts(2).mid(2, 5), QStringList({"1234", "2", "1234.5", "5", "2"}))
        << "Tot makes a total, lower-case tot does not, a name of filler changes nothing";
    EXPECT_EQ(display.labels[2], "Level");
    EXPECT_EQ(display.labels[7], "");
    EXPECT_FALSE(state.channel(4).inUse) << "Not Used";
    EXPECT_TRUE(state.channel(5).inUse);
    for (int k = 1; k <= kChannelCount; ++k)
        EXPECT_EQ(state.channel(k).label, grid.text(kHeadingRow, channelCol(k)))
            << "the chart's name " << k;
}

TEST_F(PalmConversion, CountsTheRecordsPastTheGridsLastRowAndTellsAReadErrorFromTheEnd)
{
    ResultsGrid small(4, 10);
    EXPECT_EQ(convert({rec(1, at(5, 10, 0), 0), rec(1, at(5, 10, 1), 1), rec(1, at(5, 10, 2), 2),
                       rec(1, at(5, 10, 3), 3)},
                      &small),
              DownloadResult::Complete);
    EXPECT_EQ(small.text(3, 0), "2");
    EXPECT_EQ(display.details,
              QStringList({"2 records did not fit in the grid and were not converted"}));

    const QByteArray file =
        PalmDatabaseBuilder{std::vector<QByteArray>(10, rec(1, at(5, 10, 0), 1))}.build();
    SplitBuffer device(file, file.size() - 40, true);
    EXPECT_EQ(convertPalmDatabase({QString(), &device}, context()),
              DownloadResult::PalmFileUnreadable);
}

TEST_F(PalmConversion, EveryPalmOperationIsRefusedWhileAConversionRunsOrAnotherHolderHasTheLock)
{
    write(PalmDatabaseBuilder()
              .add(rec(1, at(5, 10, 0), 1.5f, "Flow", 3))
              .add(rec(1, at(5, 10, 15), 8, "Flow", 7)));
    PalmImport import{grid, state, pump, clock};
    const QString output = dir.filePath("Logdata.csv");
    view.separate = true;
    view.listText = "3";
    std::vector<PalmOutcome::Start> nested;
    pump.onEachYield([&] {
        if (nested.empty())
            nested = {import.getIdList({pdbPath()}, view, display).start,
                      import.downloadData({pdbPath()}, output, view, display).start};
    });
    EXPECT_EQ(import.downloadData({pdbPath()}, output, view, display).status,
              "Finished. Data in File");
    pump.clearHooks();
    EXPECT_EQ(nested, std::vector(2, PalmOutcome::Start::Refused));
    EXPECT_EQ(view.downloadEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(import.getIdList({pdbPath()}, view, display).start, PalmOutcome::Start::Ran);

    PalmJobGuard serialDownload(import.jobLock());
    ASSERT_TRUE(serialDownload.acquired());
    EXPECT_EQ(import.downloadData({pdbPath()}, output, view, display).start,
              PalmOutcome::Start::Refused);
    EXPECT_EQ(import.getIdList({pdbPath()}, view, display).start, PalmOutcome::Start::Refused);
}

} // namespace
} // namespace ostrand::testing

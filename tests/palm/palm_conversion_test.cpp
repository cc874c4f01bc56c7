#include "palm/palm_conversion.h"
#include "palm/palm_import.h"
#include "palm/palm_log_reader.h"
#include "palm/palm_conversion_view.h"
#include "table/grid_state.h"
#include "table/results_grid.h"
#include "tests/download/recording_display.h"
#include "palm_pdb_builder.h"
#include "qt_printers.h"
#include "virtual_event_pump.h"
#include "cli_run.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <QRandomGenerator>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrand::testing {

// A Palm file in a temporary folder and everything a conversion touches.
class PalmTest : public ::testing::Test {
protected:
    QString pdbPath() const { return dir.filePath(QStringLiteral("PLOGR2.PDB")); }
    void write(const PalmDatabaseBuilder &pdb) { ASSERT_TRUE(pdb.writeTo(pdbPath())); }
    PalmContext context() { return PalmContext{grid, state, view, display, pump, clock}; }

    QTemporaryDir dir;
    ResultsGrid grid;
    GridState state;
    RecordingView view;
    RecordingDisplay display;
    VirtualClock clock;
    VirtualEventPump pump{clock};
};

// A file whose reads stop short at `split`, as a pipe's do, and fail there
// when `fails`.
struct SplitBuffer : QBuffer {
    SplitBuffer(const QByteArray &bytes, qint64 splitAt, bool failsThere = false)
        : split(splitAt), fails(failsThere)
    {
        setData(bytes);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 readData(char *out, qint64 max) override
    {
        if (fails && pos() >= split)
            return -1;
        return QBuffer::readData(out, pos() < split ? std::min(max, split - pos()) : max);
    }
    qint64 split;
    bool fails;
};

// 2007-12-`day` at hour:minute.
inline QDateTime at(int day, int hour, int minute)
{
    return QDateTime(QDate(2007, 12, day), QTime(hour, minute));
}

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

class PalmCommandLine : public PalmTest {
protected:
    PalmCommandLine()
    {
        PalmDatabaseBuilder pdb;
        for (const int id : {3, 7, 3, 12})
            pdb.add(palmRecord(id, 1, "Flow", at(5, 10, id), float(id)));
        // Meter 9 is listed whatever its channel code; meter 5's record has no sync pair.
        QByteArray noChannel = palmRecord(9, 1, "Flow", at(5, 11, 0), 1),
                   noSync = palmRecord(5, 1, "Flow", at(5, 11, 0), 1);
        noChannel[7] = 0;
        noSync[0] = char(0xAB);
        write(pdb.add(noChannel).add(noSync));
    }
    // A run that has not ended within 30 s is killed and counts as exit -1.
    CliRun run(const QStringList &arguments) { return runCli(arguments, dir.path(), 30000); }
    void put(const QString &name, const QByteArray &bytes) { writeFileBytes(dir.filePath(name), bytes); }
    QByteArray csv(const QString &name = "Logdata.csv") const { return readFileBytes(dir.filePath(name)); }
};

TEST_F(PalmCommandLine, ConvertsOneMeterOrEveryMeterListsTheIdsWarnsOfAForeignFileAndCountsWhatACutShortFileLost)
{
    const CliRun done = run({"palm", "--pdb", pdbPath(), "--modid", "3", "--output", "north.csv"});
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.lines, QStringList({"Reading Palm DataBase", "Completed Download.",
                                       "Finished. Data in File"}));
    EXPECT_EQ(csv("north.csv"), "Date / Time,Flow\r\n12/05/2007 10:03,3\r\n");
    EXPECT_EQ(done.errors, "");
    const CliRun all = run({"palm", "--pdb", pdbPath(), "--all"});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_EQ(all.errors, "");
    // 10:03, 10:07, 10:03, 10:12: each stamp differs from the one before it.
    EXPECT_EQ(csv().count("\r\n"), 1 + 4);

    EXPECT_EQ(run({"palm-ids", "--pdb", pdbPath()}).lines,
              QStringList({"3", "7", "12", "9", "Finished Reading"}));
    EXPECT_EQ(run({"palm-ids", "--pdb", pdbPath(), "--exclude", "7"}).lines,
              QStringList({"3", "12", "9", "Finished Reading"}));

    // A foreign file is warned of; a cut-short one says how many records it lost.
    QByteArray noise(1 << 20, '\0');
    QRandomGenerator(12).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    put("noise.bin", noise);
    put("aa55.bin", QByteArray("\xAA\x55").repeated(1 << 19));
    for (const char *file : {"noise.bin", "aa55.bin"}) {
        const CliRun ids = run({"palm-ids", "--pdb", file});
        EXPECT_EQ(ids.exitCode, 0) << file;
        EXPECT_EQ(ids.errors, "not a handheld log database: results may be meaningless\n");
    }
    PalmDatabaseBuilder pdb;
    for (int minute = 0; minute < 5; ++minute)
        pdb.add(palmRecord(3, 1, "Flow", at(5, 10, minute), 1));
    // Cut inside the last record, then two records further back: the record
    // list still names every record the copy lost.
    // The second conversion goes to the first one's file, which is kept; the --all run's goes first.
    ASSERT_TRUE(QFile::remove(dir.filePath("Logdata.csv")));
    for (const auto &[cut, lost, kept] : {std::tuple{20, "1 record", ""},
                                          {2 * 32 + 20, "3 records", "the previous file was kept as Logdata.csv.1\n"}}) {
        put("cut.pdb", pdb.build().chopped(cut));
        const CliRun done = run({"palm", "--pdb", "cut.pdb", "--all"});
        EXPECT_EQ(done.exitCode, 0);
        EXPECT_EQ(done.errors,
                  QString("the file ends inside a record: %1 not converted\n").arg(lost) + kept);
        EXPECT_EQ(csv().count("\r\n"), 1 + 5 - (cut + 31) / 32) << lost;
    }
}

TEST_F(PalmCommandLine, ExitsWithTheCodeAndReasonOfEachFailureLeavingThePreviousFileAlone)
{
    PalmDatabaseBuilder().writeTo(dir.filePath("empty.pdb"));
    ASSERT_EQ(::mkfifo(dir.filePath("fifo").toLocal8Bit().constData(), 0600), 0);
    const QByteArray previous = "Date / Time,Flow\r\nlast week's rows\r\n";
    put("Logdata.csv", previous);
    QFile::copy(pdbPath(), dir.filePath("locked.pdb"));
    QFile::setPermissions(dir.filePath("locked.pdb"), {});
    const QString missing = "Could not find Palm DataFile!!", notRegular = "is not a regular file";
    const std::tuple<QStringList, int, QString, QString> cases[] = {
        {{"palm", "--pdb", "empty.pdb", "--all"}, 1, "0 Records Available", ""},
        {{"palm", "--pdb", pdbPath(), "--modid", "99"},
         1,
         "0 Records Available",
         "no record of meter 99"},
        {{"palm", "--pdb", "none.pdb", "--all"}, 2, missing, "no such file"},
        {{"palm", "--pdb", dir.path(), "--all"}, 2, missing, notRegular},
        // A pipe nobody writes to, and a device that never ends: both used to hang.
        {{"palm", "--pdb", "fifo", "--all"}, 2, missing, notRegular},
        {{"palm", "--pdb", "/dev/zero", "--all"}, 2, missing, notRegular},
        {{"palm", "--pdb", "locked.pdb", "--all"}, 2, missing, "cannot be read"},
        {{"palm-ids", "--pdb", "none.pdb"}, 2, missing, ""},
        {{"palm", "--pdb", pdbPath(), "--all", "--modid", "3"}, 64, "", ""},
        {{"palm-ids", "--pdb", pdbPath(), "--exclude", "256"}, 64, "", ""}};
    for (const auto &[arguments, code, status, reason] : cases) {
        if (arguments.contains("locked.pdb") && ::geteuid() == 0)
            continue; // permissions do not bind root
        const CliRun failed = run(arguments);
        EXPECT_EQ(failed.exitCode, code) << arguments.join(' ').toStdString();
        EXPECT_EQ(failed.lines.value(failed.lines.size() - 1), status);
        EXPECT_TRUE(failed.errors.contains(reason)) << failed.errors.toStdString();
    }
    EXPECT_EQ(csv(), previous);
}

} // namespace
} // namespace ostrand::testing

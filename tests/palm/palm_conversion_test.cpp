#include "palm/palm_conversion.h"
#include "palm/palm_log_reader.h"
#include "palm_test_support.h"

namespace ostrand::testing
{
namespace
{

class PalmConversion : public PalmTest
{
protected:
    // Converts a database of `records` and expects it to complete.
    void convert(std::initializer_list<QByteArray> records)
    {
        PalmDatabaseBuilder pdb;
        for (const QByteArray &record : records)
            pdb.add(record);
        write(pdb);
        ASSERT_EQ(convertPalmDatabase(source(), context()), DownloadResult::Complete);
    }
    QString heading(int k) const { return grid.text(1, k + 1); }
};

QByteArray rec(int channel, const QDateTime &when, float value, const QByteArray &name = "Flow",
               int modId = 1)
{
    return palmRecord(modId, channel, name, when, value);
}

QByteArray meter(int modId, const QDateTime &when, float value)
{
    return palmRecord(modId, 1, "Flow", when, value);
}

TEST_F(PalmConversion, GivesEachTimeStampOneRowWithItsRecordNumberAndATwentyFourHourStamp)
{
    PalmRecordFields yearEnd{1, 0x10, "Flow", 0x99, 12, 0x31, 0x23, 0x59};
    PalmRecordFields badDay{1, 0x10, "Flow", 0x99, 12, 0x1A, 0x10, 0x15};
    PalmRecordFields afternoon{1, 0x10, "Flow", 0x00, 1, 0x01, 0x13, 0x05};
    convert({rec(1, at(5, 10, 0), 1.5f), rec(2, at(5, 10, 0), 2, "Level"),
             rec(3, at(5, 10, 0), -3, "Temp"), rec(1, at(5, 10, 15), 4.25f),
             palmRecord(yearEnd), palmRecord(badDay), palmRecord(afternoon)});
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "1.5", "2", "-3"}));
    EXPECT_EQ(row(3), QStringList({"2", "12/05/2007 10:15", "4.25", "", ""}));
    EXPECT_EQ(grid.text(4, 1), "12/31/2099 23:59");
    EXPECT_EQ(grid.text(5, 1), "12/31/2099 10:15") << "an impossible day keeps the one before";
    EXPECT_EQ(grid.text(6, 1), "01/01/2000 13:05");
    EXPECT_EQ(state.lastGridRow, 6);
}

TEST_F(PalmConversion, GivesMidnightARowDatedTheNextDayAndSplitsTheSameMinuteOnAnotherDate)
{
    const QDateTime midnight(QDate(2007, 12, 5), QTime(0, 0)); // the meter's end of the 5th
    convert({rec(1, at(5, 23, 45), 1), rec(1, midnight, 2), rec(2, midnight, 7),
             rec(1, at(6, 23, 45), 3)});
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 23:45", "1", "", ""}));
    EXPECT_EQ(row(3), QStringList({"2", "12/06/2007 00:00", "2", "7", ""}));
    EXPECT_EQ(row(4), QStringList({"3", "12/06/2007 23:45", "3", "", ""}));
}

TEST_F(PalmConversion, PutsAFirstRecordStampedMidnightOnRowTwoAndLeavesTheHeadingsAlone)
{
    convert({rec(1, QDateTime(QDate(2007, 12, 5), QTime(0, 0)), 9)});
    EXPECT_EQ(row(1), QStringList({"Record #", "Date / Time", "Flow", "", ""}));
    EXPECT_EQ(row(2), QStringList({"1", "12/06/2007 00:00", "9", "", ""}));
    EXPECT_EQ(state.lastGridRow, 2);
}

TEST_F(PalmConversion, NamesChannelsFromTheirFirstRecordWithTotNotUsedAndFillerNames)
{
    state.channelInUse[4] = state.channelInUse[5] = true;
    state.channelIsTotal[2] = state.channelIsTotal[4] = true;
    display.labels[7] = "From before";
    convert({rec(1, at(5, 10, 0), 1234.9f, "Flow Tot"), rec(2, at(5, 10, 0), 2, "Level"),
             rec(3, at(5, 10, 0), 1234.5f, "flow total"), rec(4, at(5, 10, 0), 5, "Not Used  "),
             rec(5, at(5, 10, 0), 2.5f, QByteArray(10, char(0xFF))),
             rec(2, at(5, 10, 15), 3, "Renamed")});
    EXPECT_EQ(row(1), QStringList({"Record #", "Date / Time", "Flow Tot", "Level", "flow total"}));
    EXPECT_EQ(display.labels[2], "Level");
    EXPECT_EQ(display.labels[7], "");
    EXPECT_TRUE(state.channelIsTotal[0]);
    EXPECT_FALSE(state.channelIsTotal[2]) << "lower-case tot is no totaliser";
    EXPECT_EQ(grid.text(2, 2), "1234");
    EXPECT_EQ(grid.text(2, 4), "1234.5");
    EXPECT_FALSE(state.channelInUse[4]) << "Not Used";
    EXPECT_EQ(heading(4), "");
    EXPECT_EQ(grid.text(2, 5), "5");
    EXPECT_TRUE(state.channelInUse[5]) << "a name of 0xFF filler changes nothing";
    EXPECT_TRUE(state.channelIsTotal[4]);
    EXPECT_EQ(heading(5), "");
    EXPECT_EQ(grid.text(2, 6), "2");
}

TEST_F(PalmConversion, SkipsRecordsWithoutSyncOrWithAnUnknownChannelCode)
{
    PalmRecordFields noSync, unknown[3];
    noSync.sync = false;
    unknown[0].channelCode = 0x90;
    unknown[1].channelCode = 0x15;
    unknown[2].channelCode = 0x00;
    convert({palmRecord(noSync), palmRecord(unknown[0]), palmRecord(unknown[1]),
             palmRecord(unknown[2]), rec(2, at(5, 10, 0), 1, "Level")});
    EXPECT_EQ(state.lastGridRow, 2);
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "", "1", ""}));
    EXPECT_FALSE(state.channelInUse[1]);
}

TEST_F(PalmConversion, KeepsOnlyTheSelectedMetersRecordsAndListsTheOtherIds)
{
    view.separate = true;
    view.listText = "3 north";
    convert({meter(3, at(5, 10, 0), 1), meter(7, at(5, 10, 0), 2), meter(3, at(5, 10, 15), 3),
             meter(12, at(5, 10, 30), 4)});
    EXPECT_EQ(state.lastGridRow, 3);
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "1", "", ""}));
    EXPECT_EQ(row(3), QStringList({"2", "12/05/2007 10:15", "3", "", ""}));
    EXPECT_EQ(view.entries, QStringList({"7", "12"}));
    view.listText = "99";
    write(PalmDatabaseBuilder().add(meter(3, at(5, 10, 0), 1)));
    EXPECT_EQ(convertPalmDatabase(source(), context()), DownloadResult::NoRecords) << "an id no record carries: nothing";
    EXPECT_EQ(state.lastGridRow, 1);
}

TEST_F(PalmConversion, MergesEveryMeterWhenNotSeparatingAndListsNone)
{
    convert({palmRecord(3, 1, "Flow", at(5, 10, 0), 1), palmRecord(7, 1, "Other", at(5, 10, 0), 2),
             palmRecord(7, 2, "Level", at(5, 10, 15), 3)});
    EXPECT_EQ(heading(1), "Flow");
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "2", "", ""}));
    EXPECT_EQ(row(3), QStringList({"2", "12/05/2007 10:15", "", "3", ""}));
    EXPECT_TRUE(view.entries.isEmpty());
}

TEST_F(PalmConversion, LeavesOutRowsPastTheGridsLastRowAndSaysHowManyRecords)
{
    ResultsGrid small(4, 10);
    PalmDatabaseBuilder pdb;
    for (int i = 0; i < 4; ++i)
        pdb.add(rec(1, at(5, 10, i), float(i)));
    write(pdb);
    EXPECT_EQ(convertPalmDatabase(source(), {small, state, view, display, pump, clock}), DownloadResult::Complete);
    EXPECT_EQ(state.lastGridRow, 5);
    EXPECT_EQ(small.text(3, 0), "2");
    EXPECT_EQ(small.lastUsedRow(), 3);
    EXPECT_EQ(display.details,
              QStringList({"2 records did not fit in the grid and were not converted"}));
}

TEST_F(PalmConversion, ReportsAMissingAnEmptyAndAnUnreadableFileApart)
{
    EXPECT_EQ(convertPalmDatabase(source(), context()), DownloadResult::PalmFileMissing);
    write(PalmDatabaseBuilder());
    EXPECT_EQ(convertPalmDatabase(source(), context()), DownloadResult::NoRecords);

    PalmDatabaseBuilder pdb;
    for (int i = 0; i < 10; ++i)
        pdb.add(rec(1, at(5, 10, i), 1));
    FailingDevice device(pdb.build(), pdb.build().size() - 40);
    EXPECT_TRUE(isOtherThanZeroOneTwo(convertPalmDatabase({QString(), &device}, context())));
}

TEST_F(PalmConversion, YieldsByElapsedTimeRatherThanAfterEveryRecord)
{
    PalmDatabaseBuilder pdb;
    const int records = 20000;
    for (int i = 0; i < records; ++i)
        pdb.add(rec(1 + i % 8, at(5, 0, 1).addSecs(60 * (i / 8)), 1));
    write(pdb);
    std::int64_t longestWaitMs = 0;
    std::int64_t lastYieldMs = clock.monotonicMicros() / 1000;
    int rowsMissingWhileYielding = 0;
    pump.onEachYield([&] {
        if (state.lastGridRow > 1 && grid.text(state.lastGridRow, 0).isEmpty())
            ++rowsMissingWhileYielding;
        const std::int64_t now = clock.monotonicMicros() / 1000;
        longestWaitMs = std::max(longestWaitMs, now - lastYieldMs);
        lastYieldMs = now;
    });
    ASSERT_EQ(convertPalmDatabase(source(), context()), DownloadResult::Complete);
    EXPECT_EQ(state.lastGridRow, 1 + records / 8);
    int incompleteRows = 0; // a row the grid got in parts around a yield must keep every part
    for (int r = 2; r <= state.lastGridRow; ++r)
        incompleteRows += grid.rowTexts(r).mid(2).count("1") != 8;
    EXPECT_EQ(incompleteRows, 0);
    EXPECT_EQ(rowsMissingWhileYielding, 0);
    EXPECT_GT(pump.yieldCount(), 5);
    EXPECT_LT(pump.yieldCount(), records / 100);
    EXPECT_LE(longestWaitMs, kPalmYieldIntervalMs + 2);
}

} // namespace
} // namespace ostrand::testing

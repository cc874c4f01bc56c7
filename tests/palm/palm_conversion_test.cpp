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
        ASSERT_EQ(ConvertPalmDatabase(source(), context()), 0);
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

TEST_F(PalmConversion, GivesEachTimeStampOneRowWithItsRecordNumber)
{
    convert({rec(1, at(5, 10, 0), 1.5f), rec(2, at(5, 10, 0), 2, "Level"),
             rec(3, at(5, 10, 0), -3, "Temp"), rec(1, at(5, 10, 15), 4.25f),
             rec(2, at(5, 10, 15), 5, "Level"), rec(3, at(5, 10, 15), 6, "Temp")});
    EXPECT_EQ(state.LastGridRow, 3);
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "1.5", "2", "-3"}));
    EXPECT_EQ(row(3), QStringList({"2", "12/05/2007 10:15", "4.25", "5", "6"}));
}

TEST_F(PalmConversion, WritesTheStampAsTwoDigitMonthAndDayAndTwentyFourHourTime)
{
    PalmRecordFields worked; // year 0x07, month 0x0C, day 0x05, 09:30
    PalmRecordFields yearEnd{1, 0x10, "Flow", 0x99, 12, 0x31, 0x23, 0x59};
    PalmRecordFields afternoon{1, 0x10, "Flow", 0x00, 1, 0x01, 0x13, 0x05};
    convert({palmRecord(worked), palmRecord(yearEnd), palmRecord(afternoon)});
    EXPECT_EQ(grid.text(2, 1), "12/05/2007 09:30");
    EXPECT_EQ(grid.text(3, 1), "12/31/2099 23:59");
    EXPECT_EQ(grid.text(4, 1), "01/01/2000 13:05");
}

TEST_F(PalmConversion, GivesAMidnightRecordARowOfItsOwnDatedTheNextDay)
{
    const QDateTime midnight(QDate(2007, 12, 5), QTime(0, 0)); // the meter's end of the 5th
    convert({rec(1, at(5, 23, 45), 1), rec(1, midnight, 2), rec(2, midnight, 7),
             rec(1, at(6, 0, 15), 3)});
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 23:45", "1", "", ""}));
    EXPECT_EQ(row(3), QStringList({"2", "12/06/2007 00:00", "2", "7", ""}));
    EXPECT_EQ(row(4), QStringList({"3", "12/06/2007 00:15", "3", "", ""}));
}

TEST_F(PalmConversion, BeginsANewRowForTheSameHourAndMinuteOnAnotherDate)
{
    convert({rec(1, at(5, 10, 0), 1), rec(1, at(6, 10, 0), 2)});
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "1", "", ""}));
    EXPECT_EQ(row(3), QStringList({"2", "12/06/2007 10:00", "2", "", ""}));
}

TEST_F(PalmConversion, PutsAFirstRecordStampedMidnightOnRowTwoAndLeavesTheHeadingsAlone)
{
    convert({rec(1, QDateTime(QDate(2007, 12, 5), QTime(0, 0)), 9)});
    EXPECT_EQ(row(1), QStringList({"Record #", "Date / Time", "Flow", "", ""}));
    EXPECT_EQ(row(2), QStringList({"1", "12/06/2007 00:00", "9", "", ""}));
    EXPECT_EQ(state.LastGridRow, 2);
}

TEST_F(PalmConversion, TakesAnImpossibleDateOrTimeFromThePreviousRecord)
{
    PalmRecordFields badDay{1, 0x10, "Flow", 0x07, 12, 0x1A, 0x10, 0x15};
    PalmRecordFields badHour{1, 0x10, "Flow", 0x07, 12, 0x07, 0x24, 0x00};
    PalmRecordFields april31{1, 0x10, "Flow", 0x08, 4, 0x31, 0x11, 0x00};
    convert(
        {rec(1, at(5, 10, 0), 1), palmRecord(badDay), palmRecord(badHour), palmRecord(april31)});
    EXPECT_EQ(grid.text(3, 1), "12/05/2007 10:15");
    EXPECT_EQ(grid.text(4, 1), "12/07/2007 10:15");
    EXPECT_EQ(grid.text(5, 1), "12/07/2007 11:00");
}

TEST_F(PalmConversion, NamesEachChannelFromItsFirstRecordOnly)
{
    convert({rec(1, at(5, 10, 0), 1, "Flow"), rec(2, at(5, 10, 0), 2, "Level"),
             rec(1, at(5, 10, 15), 3, "Renamed")});
    EXPECT_EQ(heading(1), "Flow");
    EXPECT_EQ(heading(2), "Level");
    EXPECT_EQ(display.labels[1], "Flow");
    EXPECT_EQ(display.labels[2], "Level");
    EXPECT_TRUE(state.ChannelInUse[1] && state.ChannelInUse[2]);
    EXPECT_FALSE(state.ChannelInUse[3]);
}

TEST_F(PalmConversion, TreatsAChannelNamedWithTotAsATotaliserButNotOneWithLowerCaseTot)
{
    state.ChannelIsTotal[1] = true;
    convert(
        {rec(1, at(5, 10, 0), 1234.9f, "Flow Tot"), rec(2, at(5, 10, 0), 1234.5f, "flow total")});
    EXPECT_TRUE(state.ChannelIsTotal[0]);
    EXPECT_FALSE(state.ChannelIsTotal[1]);
    EXPECT_EQ(grid.text(2, 2), "1234");
    EXPECT_EQ(grid.text(2, 3), "1234.5");
}

TEST_F(PalmConversion, GivesANotUsedChannelNoHeadingButStillWritesItsValues)
{
    state.ChannelInUse[3] = true;
    convert({rec(3, at(5, 10, 0), 5, "Not Used  ")});
    EXPECT_FALSE(state.ChannelInUse[3]);
    EXPECT_EQ(heading(3), "");
    EXPECT_EQ(display.labels[3], "");
    EXPECT_EQ(grid.text(2, 4), "5");
}

TEST_F(PalmConversion, LeavesTheHeadingAndFlagsAsTheyWereForANameOfFillerBytes)
{
    state.ChannelInUse[2] = true;
    state.ChannelIsTotal[1] = true;
    convert({rec(2, at(5, 10, 0), 2.5f, QByteArray(10, char(0xFF)))});
    EXPECT_TRUE(state.ChannelInUse[2]);
    EXPECT_TRUE(state.ChannelIsTotal[1]);
    EXPECT_EQ(heading(2), "");
    EXPECT_EQ(grid.text(2, 3), "2");
}

TEST_F(PalmConversion, SkipsRecordsWithoutSyncOrWithAnUnknownChannelCode)
{
    PalmRecordFields noSync;
    noSync.sync = false;
    PalmRecordFields unknown[3];
    unknown[0].channelCode = 0x90;
    unknown[1].channelCode = 0x15;
    unknown[2].channelCode = 0x00;
    convert({palmRecord(noSync), palmRecord(unknown[0]), palmRecord(unknown[1]),
             palmRecord(unknown[2]), rec(2, at(5, 10, 0), 1, "Level")});
    EXPECT_EQ(state.LastGridRow, 2);
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "", "1", ""}));
    EXPECT_FALSE(state.ChannelInUse[1]);
}

TEST_F(PalmConversion, EmptiesTheChannelBoxesAndSetsTheColumnWidthsFirst)
{
    display.labels[5] = "From before";
    convert({rec(1, at(5, 10, 0), 1)});
    EXPECT_EQ(display.labels[5], "");
    EXPECT_EQ(grid.colWidthTwips(0), 1000);
    for (int col = 1; col <= 9; ++col)
        EXPECT_EQ(grid.colWidthTwips(col), 1800) << col;
}

TEST_F(PalmConversion, KeepsOnlyTheSelectedMetersRecordsAndListsTheOtherIds)
{
    view.separate = true;
    view.listText = "3 north";
    convert({meter(3, at(5, 10, 0), 1), meter(7, at(5, 10, 0), 2), meter(3, at(5, 10, 15), 3),
             meter(12, at(5, 10, 30), 4)});
    EXPECT_EQ(state.LastGridRow, 3);
    EXPECT_EQ(row(2), QStringList({"1", "12/05/2007 10:00", "1", "", ""}));
    EXPECT_EQ(row(3), QStringList({"2", "12/05/2007 10:15", "3", "", ""}));
    EXPECT_EQ(view.entries, QStringList({"7", "12"}));
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

TEST_F(PalmConversion, KeepsOnlyTheHeadingRowForAnIdThatNoRecordCarries)
{
    view.separate = true;
    view.listText = "99";
    convert({meter(3, at(5, 10, 0), 1)});
    EXPECT_EQ(state.LastGridRow, 1);
    EXPECT_EQ(grid.lastUsedRow(), 1);
}

TEST_F(PalmConversion, LeavesOutRowsPastTheGridsLastRowAndStillCompletes)
{
    ResultsGrid small(4, 10);
    PalmDatabaseBuilder pdb;
    for (int i = 0; i < 4; ++i)
        pdb.add(rec(1, at(5, 10, i), float(i)));
    write(pdb);
    EXPECT_EQ(ConvertPalmDatabase(source(), {small, state, view, display, pump, clock}), 0);
    EXPECT_EQ(state.LastGridRow, 5);
    EXPECT_EQ(small.text(3, 0), "2");
    EXPECT_EQ(small.lastUsedRow(), 3);
}

TEST_F(PalmConversion, ReportsAMissingAnEmptyAndAnUnreadableFileApart)
{
    EXPECT_EQ(ConvertPalmDatabase(source(), context()), 2);
    write(PalmDatabaseBuilder());
    EXPECT_EQ(ConvertPalmDatabase(source(), context()), 1);
    EXPECT_TRUE(isOtherThanZeroOneTwo(ConvertPalmDatabase({dir.path()}, context())));

    PalmDatabaseBuilder pdb;
    for (int i = 0; i < 10; ++i)
        pdb.add(rec(1, at(5, 10, i), 1));
    FailingDevice device(pdb.build(), pdb.build().size() - 40);
    EXPECT_TRUE(isOtherThanZeroOneTwo(ConvertPalmDatabase({QString(), &device}, context())));
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
        if (state.LastGridRow > 1 && grid.text(state.LastGridRow, 0).isEmpty())
            ++rowsMissingWhileYielding;
        const std::int64_t now = clock.monotonicMicros() / 1000;
        longestWaitMs = std::max(longestWaitMs, now - lastYieldMs);
        lastYieldMs = now;
    });
    ASSERT_EQ(ConvertPalmDatabase(source(), context()), 0);
    EXPECT_EQ(state.LastGridRow, 1 + records / 8);
    int incompleteRows = 0; // a row the grid got in parts around a yield must keep every part
    for (int r = 2; r <= state.LastGridRow; ++r)
        incompleteRows += grid.rowTexts(r).mid(2).count("1") != 8;
    EXPECT_EQ(incompleteRows, 0);
    EXPECT_EQ(rowsMissingWhileYielding, 0);
    EXPECT_GT(pump.yieldCount(), 5);
    EXPECT_LT(pump.yieldCount(), records / 100);
    EXPECT_LE(longestWaitMs, kPalmYieldIntervalMs + 2);
}

} // namespace
} // namespace ostrand::testing

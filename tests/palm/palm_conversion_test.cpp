#include "palm/palm_conversion.h"
#include "palm_test_support.h"

#include <cstring>

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

// Hands out `data` until `failAt`, then reports a read error.
struct FailingDevice : QIODevice {
    FailingDevice(QByteArray data, qint64 failAt) : data(std::move(data)), failAt(failAt) {}
    bool isSequential() const override { return true; }
    qint64 readData(char *out, qint64 max) override
    {
        const qint64 n = std::min({max, failAt - at, qint64(data.size()) - at});
        if (n <= 0)
            return at >= failAt ? -1 : 0;
        std::memcpy(out, data.constData() + at, size_t(n));
        at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }
    QByteArray data;
    qint64 failAt, at = 0;
};

class PalmConversion : public PalmTest {
protected:
    DownloadResult convert(std::vector<QByteArray> records, ResultsGrid *into = nullptr)
    {
        write(PalmDatabaseBuilder{records});
        return convertPalmDatabase({pdbPath()},
                                   {into ? *into : grid, state, view, display, pump, clock});
    }
    // Rows 2 to the last begun, record number to channel 3.
    QStringList rows() const
    {
        QStringList texts;
        for (int r = 2; r <= state.lastGridRow; ++r)
            texts << grid.rowTexts(r).mid(0, 5).join(',');
        return texts;
    }
};

TEST_F(PalmConversion, GivesEachTimeStampItsOwnRowAndKeepsTheSelectedMetersRecords)
{
    const QDateTime midnight(QDate(2007, 12, 5), QTime(0, 0)); // the meter's end of the 5th
    const QDateTime yearEnd(QDate(2099, 12, 31), QTime(23, 59));
    const struct {
        const char *what;
        std::vector<QByteArray> records;
        const char *selected; // null: every meter
        QStringList rows, listed;
    } cases[] = {
        {"channels of one stamp share a row",
         {rec(1, at(5, 10, 0), 1.5f), rec(2, at(5, 10, 0), 2, "Level"), rec(3, at(5, 10, 0), -3),
          rec(1, at(5, 10, 15), 4.25f)},
         nullptr,
         {"1,12/05/2007 10:00,1.5,2,-3", "2,12/05/2007 10:15,4.25,,"},
         {}},
        {"an impossible day keeps the date before",
         {rec(1, yearEnd, 1), with(rec(1, at(5, 10, 15), 2), 24, 0x1A),
          rec(1, QDateTime(QDate(2000, 1, 1), QTime(13, 5)), 3)},
         nullptr,
         {"1,12/31/2099 23:59,1,,", "2,12/31/2099 10:15,2,,", "3,01/01/2000 13:05,3,,"},
         {}},
        {"midnight is dated the next day, the same minute a day later is a new row",
         {rec(1, at(5, 23, 45), 1), rec(1, midnight, 2), rec(2, midnight, 7),
          rec(1, at(6, 23, 45), 3)},
         nullptr,
         {"1,12/05/2007 23:45,1,,", "2,12/06/2007 00:00,2,7,", "3,12/06/2007 23:45,3,,"},
         {}},
        {"a first record at midnight",
         {rec(1, midnight, 9)},
         nullptr,
         {"1,12/06/2007 00:00,9,,"},
         {}},
        {"no sync or an unknown channel code: skipped",
         {with(rec(1, at(5, 9, 0), 1), 0, 0xAB), with(rec(1, at(5, 9, 1), 1), 7, 0x90),
          with(rec(1, at(5, 9, 2), 1), 7, 0x15), with(rec(1, at(5, 9, 3), 1), 7, 0),
          rec(2, at(5, 10, 0), 1)},
         nullptr,
         {"1,12/05/2007 10:00,,1,"},
         {}},
        {"one meter kept, the others listed",
         {rec(1, at(5, 10, 0), 1, "Flow", 3), rec(1, at(5, 10, 0), 2, "Flow", 7),
          rec(1, at(5, 10, 15), 3, "Flow", 3), rec(1, at(5, 10, 30), 4, "Flow", 12)},
         "3 north",
         {"1,12/05/2007 10:00,1,,", "2,12/05/2007 10:15,3,,"},
         {"7", "12"}},
        {"every meter merged, none listed",
         {rec(1, at(5, 10, 0), 1, "Flow", 3), rec(1, at(5, 10, 0), 2, "Other", 7),
          rec(2, at(5, 10, 15), 3, "Level", 7)},
         nullptr,
         {"1,12/05/2007 10:00,2,,", "2,12/05/2007 10:15,,3,"},
         {}},
    };
    for (const auto &c : cases) {
        grid.clear();
        state = GridState();
        view.separate = c.selected != nullptr;
        view.listText = c.selected;
        view.entries.clear();
        EXPECT_EQ(convert(c.records), DownloadResult::Complete) << c.what;
        EXPECT_EQ(rows(), c.rows) << c.what;
        EXPECT_EQ(view.entries, c.listed) << c.what;
    }
}

TEST_F(PalmConversion, NamesChannelsFromTheirFirstRecordWithTotNotUsedAndFillerNames)
{
    state.channelInUse[4] = state.channelInUse[5] = true;
    state.channelIsTotal[4] = true;
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
    EXPECT_FALSE(state.channelInUse[4]) << "Not Used";
    EXPECT_TRUE(state.channelInUse[5]);
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
    FailingDevice device(file, file.size() - 40);
    EXPECT_EQ(convertPalmDatabase({QString(), &device}, context()),
              DownloadResult::PalmFileUnreadable);
}

} // namespace
} // namespace ostrand::testing

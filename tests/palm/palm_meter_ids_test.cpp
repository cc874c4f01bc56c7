#include "palm/palm_meter_ids.h"
#include "palm_test_support.h"

namespace ostrand::testing
{
namespace
{

class PalmMeterIds : public PalmTest
{
protected:
    // A database with one record of channel 1 for each ID.
    void writeIds(std::initializer_list<int> ids)
    {
        PalmDatabaseBuilder pdb;
        for (const int id : ids)
            pdb.add(palmRecord(id, 1, "Flow", at(5, 10, 0), 1));
        write(pdb);
    }
    DownloadResult list() { return listPalmMeterIds(source(), context()); }
};

TEST_F(PalmMeterIds, ListsEachIdOnceInTheOrderFirstMetLeavingOutTheSelectedAndListedOnes)
{
    writeIds({3, 7, 3, 12});
    state.lastGridRow = 40;
    EXPECT_EQ(list(), DownloadResult::Complete);
    EXPECT_EQ(view.entries, QStringList({"3", "7", "12"}));
    EXPECT_EQ(state.lastGridRow, 1);
    EXPECT_EQ(list(), DownloadResult::Complete);
    EXPECT_EQ(view.entries, QStringList({"3", "7", "12"}));
    writeIds({3, 7, 3, 12, 0});
    view.listText = "7";
    view.entries = QStringList({"12"});
    EXPECT_EQ(list(), DownloadResult::Complete);
    EXPECT_EQ(view.entries, QStringList({"12", "3", "0"}));
}

TEST_F(PalmMeterIds, CountsRecordsOfAnyChannelCodeButNotThoseWithoutSync)
{
    PalmRecordFields noSync, noChannel;
    noSync.modId = 5;
    noSync.sync = false;
    noChannel.modId = 9;
    noChannel.channelCode = 0x00;
    view.listText = "1";
    PalmDatabaseBuilder pdb;
    write(pdb.add(palmRecord(noSync)).add(palmRecord(noChannel)));
    EXPECT_EQ(list(), DownloadResult::Complete);
    EXPECT_EQ(view.entries, QStringList({"9"}));
}

} // namespace
} // namespace ostrand::testing

#include "palm/palm_import.h"
#include "palm_test_support.h"

#include <QFile>

namespace ostrand::testing {
namespace {

TEST_F(PalmTest, EveryPalmOperationIsRefusedWhileAConversionRunsOrAnotherHolderHasTheLock)
{
    write(PalmDatabaseBuilder()
              .add(palmRecord(3, 1, "Flow", at(5, 10, 0), 1.5f))
              .add(palmRecord(7, 1, "Flow", at(5, 10, 15), 8)));
    PalmImport import{grid, state, pump, clock};
    const QString output = dir.filePath("Logdata.csv");
    view.separate = true;
    view.listText = "3";
    std::vector<PalmOutcome> nested;
    pump.onEachYield([&] {
        if (nested.empty()) {
            nested.push_back(import.getIdList({pdbPath()}, view, display));
            nested.push_back(import.downloadData({pdbPath()}, output, view, display));
        }
    });
    EXPECT_EQ(import.downloadData({pdbPath()}, output, view, display).status,
              "Finished. Data in File");
    pump.clearHooks();
    ASSERT_EQ(nested.size(), 2u);
    for (const PalmOutcome &refused : nested)
        EXPECT_EQ(refused.start, PalmOutcome::Start::Refused);
    QFile file(output);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "Date / Time,Flow\r\n12/05/2007 10:00,1.5\r\n");
    EXPECT_EQ(view.entries, QStringList({"7"}));
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

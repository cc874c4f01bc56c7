#include "palm/palm_import.h"
#include "palm_test_support.h"

#include <QFile>

namespace ostrand::testing
{
namespace
{

class PalmImportTest : public PalmTest
{
protected:
    PalmImportTest()
    {
        PalmDatabaseBuilder pdb;
        pdb.add(palmRecord(3, 1, "Flow", at(5, 10, 0), 1.5f))
            .add(palmRecord(3, 2, "Level", at(5, 10, 0), 2))
            .add(palmRecord(7, 1, "Flow", at(5, 10, 15), 8));
        write(pdb);
    }
    QString outputPath() const { return dir.filePath("Logdata.csv"); }
    PalmOutcome download(const PalmSource &from)
    {
        return import.downloadData(from, outputPath(), view, display);
    }
    PalmOutcome download() { return download(source()); }
    PalmOutcome getIds(const PalmSource &from) { return import.getIdList(from, view, display); }
    QByteArray output() const
    {
        QFile file(outputPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }

    PalmImport import{grid, state, pump, clock};
};

TEST_F(PalmImportTest, DownloadDataAsksForAModIdWhenTheListTextIsEmpty)
{
    view.separate = true;
    grid.setText(5, 2, "kept");
    const PalmOutcome outcome = download();
    EXPECT_EQ(outcome.start, PalmOutcome::Start::NeedsModId);
    EXPECT_EQ(display.statuses, QStringList({"Enter ModID"}));
    EXPECT_EQ(grid.text(5, 2), "kept");
    EXPECT_TRUE(view.downloadEnabled.empty());
    EXPECT_EQ(output(), "(none)");
}

TEST_F(PalmImportTest, DownloadDataConvertsTheSelectedMeterAndWritesTheFile)
{
    view.separate = true;
    view.listText = "3";
    grid.setText(40, 2, "from before");
    const PalmOutcome outcome = download();
    EXPECT_EQ(outcome.start, PalmOutcome::Start::Ran);
    EXPECT_EQ(display.statuses, QStringList({"Reading Palm DataBase", "Completed Download.",
                                             "Finished. Data in File"}));
    EXPECT_EQ(view.downloadEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(output(), "Date / Time,Flow,Level\r\n12/05/2007 10:00,1.5,2\r\n");
    EXPECT_EQ(grid.text(40, 2), "");
    EXPECT_EQ(display.progress.back(), 100);
}

TEST_F(PalmImportTest, DownloadDataShowsWhyNothingWasConvertedOrWritten)
{
    const PalmOutcome unwritable =
        import.downloadData(source(), dir.filePath("missing/Logdata.csv"), view, display);
    EXPECT_EQ(unwritable.result, DownloadResult::Complete);
    EXPECT_EQ(unwritable.status, "Error putting into file!!");
    write(PalmDatabaseBuilder());
    const std::pair<PalmSource, const char *> cases[] = {
        {source(), "0 Records Available"},
        {PalmSource{dir.filePath("elsewhere.pdb")}, "Could not find Palm DataFile!!"}};
    for (const auto &[from, status] : cases) {
        display.statuses.clear();
        EXPECT_EQ(download(from).status, status);
        EXPECT_EQ(display.statuses, QStringList({"Reading Palm DataBase", status}));
    }
    EXPECT_EQ(output(), "(none)");
}

TEST_F(PalmImportTest, GetIdListShowsItsOwnStatusForEachResult)
{
    EXPECT_EQ(getIds(source()).status, "Finished Reading");
    EXPECT_EQ(display.statuses, QStringList({"Reading Palm DataBase", "Finished Reading"}));
    EXPECT_EQ(display.progress.back(), 100);
    EXPECT_EQ(view.entries, QStringList({"3", "7"}));
    EXPECT_EQ(view.downloadEnabled, (std::vector<bool>{false, true}));

    EXPECT_EQ(getIds({dir.filePath("elsewhere.pdb")}).status, "Could not find Palm DataFile!!");
    write(PalmDatabaseBuilder());
    EXPECT_EQ(getIds(source()).status, "0 Records Available");
}

TEST_F(PalmImportTest, RefusesAnyPalmOperationWhileAConversionRunsOrAnotherHolderHasTheLock)
{
    view.separate = true;
    view.listText = "3";
    std::vector<PalmOutcome> nested;
    pump.onEachYield([&] {
        if (!nested.empty())
            return;
        EXPECT_TRUE(import.busy());
        nested.push_back(getIds(source()));
        nested.push_back(download());
    });
    const PalmOutcome outer = download();
    pump.clearHooks();

    ASSERT_EQ(nested.size(), 2u);
    for (const PalmOutcome &refused : nested) {
        EXPECT_EQ(refused.start, PalmOutcome::Start::Refused);
        EXPECT_TRUE(refused.status.isEmpty());
    }
    EXPECT_EQ(outer.status, "Finished. Data in File");
    EXPECT_EQ(output(), "Date / Time,Flow,Level\r\n12/05/2007 10:00,1.5,2\r\n");
    EXPECT_EQ(view.entries, QStringList({"7"}));
    EXPECT_EQ(view.downloadEnabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(display.statuses, QStringList({"Reading Palm DataBase", "Completed Download.",
                                             "Finished. Data in File"}));
    EXPECT_FALSE(import.busy());
    EXPECT_EQ(getIds(source()).start, PalmOutcome::Start::Ran);

    PalmJobGuard serialDownload(import.jobLock()); // another holder of the lock
    ASSERT_TRUE(serialDownload.acquired());
    EXPECT_EQ(download().start, PalmOutcome::Start::Refused);
    EXPECT_EQ(getIds(source()).start, PalmOutcome::Start::Refused);
}

} // namespace
} // namespace ostrand::testing

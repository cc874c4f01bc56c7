#include "cli_run.h"
#include "palm_test_support.h"

#include <QRandomGenerator>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrand::testing {
namespace {

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

TEST_F(PalmCommandLine, ConvertsOneMeterIntoTheOutputFileOrEveryMeterIntoLogdataAndListsTheIds)
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
}

TEST_F(PalmCommandLine, ConvertingOntoAFileThatHoldsDataKeepsItAsTheNextNumberAndSaysSo)
{
    put("north.csv", "earlier\r\n");
    put("north.csv.1", "older\r\n");
    const CliRun again = run({"palm", "--pdb", pdbPath(), "--modid", "3", "--output", "north.csv"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.lines.value(again.lines.size() - 1), "Finished. Data in File");
    EXPECT_EQ(again.errors, "the previous file was kept as north.csv.2\n");
    EXPECT_EQ(csv("north.csv.2"), "earlier\r\n");
    EXPECT_EQ(csv("north.csv.1"), "older\r\n");
    EXPECT_EQ(csv("north.csv"), "Date / Time,Flow\r\n12/05/2007 10:03,3\r\n");
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

TEST_F(PalmCommandLine, WarnsOfAForeignFileAndSaysHowManyRecordsACutShortFileLost)
{
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
    // The second conversion goes to the first one's file, which is kept.
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

} // namespace
} // namespace ostrand::testing

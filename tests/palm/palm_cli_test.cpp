#include "cli_run.h"
#include "palm_test_support.h"

#include <QFile>
#include <QRandomGenerator>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrand::testing
{
namespace
{

class PalmCommandLine : public PalmTest
{
protected:
    PalmCommandLine()
    {
        PalmDatabaseBuilder pdb;
        for (const int id : {3, 7, 3, 12})
            pdb.add(palmRecord(id, 1, "Flow", at(5, 10, id), float(id)));
        write(pdb);
    }
    // A run that has not ended within 30 s is killed and counts as exit -1.
    CliRun run(const QStringList &arguments) { return runCli(arguments, dir.path(), 30000); }
    void put(const QString &name, const QByteArray &bytes)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            << name.toStdString();
    }
    QByteArray csv(const QString &name = "Logdata.csv") const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }
};

TEST_F(PalmCommandLine, ConvertsOneMeterIntoTheOutputFileOrEveryMeterIntoLogdata)
{
    const CliRun done = run({"palm", "--pdb", pdbPath(), "--modid", "3", "--output", "north.csv"});
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.lines, QStringList({"Reading Palm DataBase", "Completed Download.",
                                       "Finished. Data in File"}));
    EXPECT_EQ(csv("north.csv"), "Date / Time,Flow\r\n12/05/2007 10:03,3\r\n");
    EXPECT_EQ(done.errors, "");
    EXPECT_EQ(run({"palm", "--pdb", pdbPath(), "--all"}).exitCode, 0);
    // 10:03, 10:07, 10:03, 10:12: each stamp differs from the one before it.
    EXPECT_EQ(csv().count("\r\n"), 1 + 4);
}

TEST_F(PalmCommandLine, ExitsWithTheCodeAndReasonOfEachFailureLeavingThePreviousFileAlone)
{
    PalmDatabaseBuilder().writeTo(dir.filePath("empty.pdb"));
    ASSERT_EQ(::mkfifo(dir.filePath("fifo").toLocal8Bit().constData(), 0600), 0);
    const QByteArray previous = "Date / Time,Flow\r\nlast week's rows\r\n";
    put("Logdata.csv", previous);
    const QString notRegular = "is not a regular file";
    std::vector<std::tuple<QStringList, int, QString, QString>> cases = {
        {{"--pdb", "empty.pdb", "--all"}, 1, "0 Records Available", ""},
        {{"--pdb", pdbPath(), "--modid", "99"}, 1, "0 Records Available", "no record of meter 99"},
        {{"--pdb", "none.pdb", "--all"}, 2, "Could not find Palm DataFile!!", "no such file"},
        {{"--pdb", dir.path(), "--all"}, 2, "Could not find Palm DataFile!!", notRegular},
        // A pipe nobody writes to, and a device that never ends: both used to hang.
        {{"--pdb", "fifo", "--all"}, 2, "Could not find Palm DataFile!!", notRegular},
        {{"--pdb", "/dev/zero", "--all"}, 2, "Could not find Palm DataFile!!", notRegular}};
    // Permissions do not bind root, so there an unreadable file cannot be made this way.
    if (::geteuid() != 0) {
        QFile::copy(pdbPath(), dir.filePath("locked.pdb"));
        QFile::setPermissions(dir.filePath("locked.pdb"), {});
        cases.push_back({{"--pdb", "locked.pdb", "--all"},
                         2,
                         "Could not find Palm DataFile!!",
                         "cannot be read"});
    } else {
        std::cout << "[ NOTE ] the unreadable-file case needs a user other than root\n";
    }
    for (const auto &[arguments, code, status, reason] : cases) {
        const CliRun failed = run(QStringList{"palm"} + arguments);
        EXPECT_EQ(failed.exitCode, code) << status.toStdString();
        EXPECT_EQ(failed.lines.value(0), "Reading Palm DataBase");
        EXPECT_EQ(failed.lines.value(failed.lines.size() - 1), status);
        EXPECT_TRUE(failed.errors.contains(reason)) << failed.errors.toStdString();
    }
    EXPECT_EQ(csv(), previous);
}

TEST_F(PalmCommandLine, WarnsThatAFileIsNoHandheldDatabaseAndReadsItAnyway)
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
}

TEST_F(PalmCommandLine, SaysHowManyRecordsACutShortFileLostAndWritesTheRest)
{
    PalmDatabaseBuilder pdb;
    for (int minute = 0; minute < 5; ++minute)
        pdb.add(palmRecord(3, 1, "Flow", at(5, 10, minute), 1));
    // Cut inside the last record, then two records further back: the record
    // list still names every record the copy lost.
    const std::pair<int, const char *> cases[] = {{20, "1 record"}, {2 * 32 + 20, "3 records"}};
    for (const auto &[cut, lost] : cases) {
        put("cut.pdb", pdb.build().chopped(cut));
        const CliRun done = run({"palm", "--pdb", "cut.pdb", "--all"});
        EXPECT_EQ(done.exitCode, 0);
        EXPECT_EQ(done.errors,
                  QString("the file ends inside a record: %1 not converted\n").arg(lost));
        EXPECT_EQ(csv().count("\r\n"), 1 + 5 - (cut + 31) / 32) << lost;
    }
}

TEST_F(PalmCommandLine, RefusesAnIncompleteOrContradictoryCommandLine)
{
    const QStringList cases[] = {{"palm", "--all"},
                                 {"palm", "--pdb", pdbPath()},
                                 {"palm", "--pdb", pdbPath(), "--all", "--modid", "3"},
                                 {"palm", "--pdb", pdbPath(), "--modid", "north"},
                                 {"palm-ids"},
                                 {"palm-ids", "--pdb", pdbPath(), "--exclude", "256"}};
    for (const QStringList &arguments : cases)
        EXPECT_EQ(run(arguments).exitCode, 64) << arguments.join(' ').toStdString();
}

TEST_F(PalmCommandLine, ListsTheIdsInTheOrderFirstMetThenTheStatus)
{
    const CliRun all = run({"palm-ids", "--pdb", pdbPath()});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_EQ(all.lines, QStringList({"3", "7", "12", "Finished Reading"}));
    EXPECT_EQ(run({"palm-ids", "--pdb", pdbPath(), "--exclude", "7"}).lines,
              QStringList({"3", "12", "Finished Reading"}));

    const CliRun missing = run({"palm-ids", "--pdb", "none.pdb"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.lines, QStringList({"Could not find Palm DataFile!!"}));
    EXPECT_EQ(run({"palm-ids", "--pdb", dir.path()}).exitCode, 2);
}

} // namespace
} // namespace ostrand::testing

#include "palm_test_support.h"

#include <QFile>
#include <QProcess>

namespace ostrand::testing
{
namespace
{

struct CliRun {
    int exitCode = -1;
    QStringList lines;
};

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
    CliRun run(const QStringList &arguments)
    {
        QProcess cli;
        cli.setWorkingDirectory(dir.path());
        cli.start(QStringLiteral(OSTRAND_CLI), arguments);
        EXPECT_TRUE(cli.waitForFinished(30000)) << arguments.join(' ').toStdString();
        return {
            cli.exitCode(),
            QString::fromLocal8Bit(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
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
    EXPECT_EQ(run({"palm", "--pdb", pdbPath(), "--all"}).exitCode, 0);
    // 10:03, 10:07, 10:03, 10:12: each stamp differs from the one before it.
    EXPECT_EQ(csv().count("\r\n"), 1 + 4);
}

TEST_F(PalmCommandLine, ExitsWithTheCodeOfEachFailure)
{
    PalmDatabaseBuilder().writeTo(dir.filePath("empty.pdb"));
    const std::tuple<QStringList, int, const char *> cases[] = {
        {{"--pdb", "empty.pdb", "--all"}, 1, "0 Records Available"},
        {{"--pdb", "none.pdb", "--all"}, 2, "Could not find Palm DataFile!!"},
        {{"--pdb", dir.path(), "--all"}, 4, "Error in Downloading!!"}};
    for (const auto &[arguments, code, status] : cases) {
        const CliRun failed = run(QStringList{"palm"} + arguments);
        EXPECT_EQ(failed.exitCode, code) << status;
        EXPECT_EQ(failed.lines.value(0), "Reading Palm DataBase");
        EXPECT_EQ(failed.lines.value(failed.lines.size() - 1), status);
    }
    EXPECT_EQ(csv(), "(none)");
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
    EXPECT_EQ(run({"palm-ids", "--pdb", dir.path()}).exitCode, 4);
}

} // namespace
} // namespace ostrand::testing

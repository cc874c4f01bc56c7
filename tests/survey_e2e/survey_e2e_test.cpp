// A simulated survey meter (known pipe, silt, storm and gaps) collected into SQLite by
// ostrand-cli collect, then reported by ostrand-cli report: the gaps are the ones the meter
// was given, the daily table's volumes agree with the meter's totalizer, and the PDF's text
// (pdftotext) holds a fit that finds the silt; its first page is not blank.
#include "cli_run.h"
#include "file_bytes.h"
#include "metersim_process.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrand::testing;

namespace {

// London keeps GMT through these two weeks, so meter time and UTC agree.
const QStringList kSurvey{"--survey",
                          "--records",
                          "1344",
                          "--start",
                          "2026-03-02 00:00",
                          "--survey-silt",
                          "50",
                          "--survey-storm",
                          "2026-03-10T14:00/6",
                          "--survey-gaps",
                          "2026-03-05T10:00/120,2026-03-08T23:30/60",
                          "--survey-gaps",
                          "2026-03-12T00:00/45"};
const QByteArray kGaps = "Start,End,Missing intervals\r\n"
                         "2026-03-05T10:00:00+00:00,2026-03-05T11:45:00+00:00,8\r\n"
                         "2026-03-08T23:30:00+00:00,2026-03-09T00:15:00+00:00,4\r\n"
                         "2026-03-12T00:00:00+00:00,2026-03-12T00:30:00+00:00,3\r\n";

// What a program printed on stdout, run to its end.
QByteArray outputOf(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

QStringList csvLines(const QByteArray &text)
{
    return QString::fromUtf8(text).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

class SurveyReportE2e : public ::testing::Test {
protected:
    // One collection for the suite: the meter's log takes a second or two to read.
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        MeterSimProcess meter;
        ASSERT_TRUE(meter.start(dir->path(), kSurvey));
        writeFileBytes(
            dir->filePath("stations.ini"),
            "[store]\nurl = sqlite:store.db\n\n[culvert]\nport = " + meter.linkPath().toUtf8() +
                "\noutput = culvert.csv\ntimezone = Europe/London\npipe-diameter = 600 mm\n"
                "pipe-slope = 0.002\nmanning-n = 0.013\n");
        const CliRun collected = runCli({"collect", "--stations", dir->filePath("stations.ini")});
        ASSERT_EQ(collected.exitCode, 0) << qPrintable(collected.errors);
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }

    static CliRun report(const QStringList &extra)
    {
        return runCli(QStringList{"report", "--stations", dir->filePath("stations.ini"),
                                  "--station", "culvert"} +
                      extra);
    }

    static QTemporaryDir *dir;
};
QTemporaryDir *SurveyReportE2e::dir = nullptr;

} // namespace

TEST_F(SurveyReportE2e, theGapsAreExactlyTheOnesTheMeterWasGivenFromTheStoreAndFromTheCsvFile)
{
    const CliRun fromStore = report({"--format", "gaps", "--output", dir->filePath("gaps.csv")});
    ASSERT_EQ(fromStore.exitCode, 0) << qPrintable(fromStore.errors);
    EXPECT_EQ(readFileBytes(dir->filePath("gaps.csv")).toStdString(), kGaps.toStdString());

    const CliRun fromCsv =
        runCli({"report", "--csv", dir->filePath("culvert.csv"), "--timezone", "Europe/London",
                "--format", "gaps", "--from", "2026-03-08T00:00:00Z"});
    ASSERT_EQ(fromCsv.exitCode, 0) << qPrintable(fromCsv.errors);
    EXPECT_EQ(fromCsv.lines,
              QStringList({"Start,End,Missing intervals\r",
                           "2026-03-08T23:30:00+00:00,2026-03-09T00:15:00+00:00,4\r",
                           "2026-03-12T00:00:00+00:00,2026-03-12T00:30:00+00:00,3\r"}));
}

TEST_F(SurveyReportE2e, theDailyTableCountsTheMissingReadingsAndItsVolumesAgreeWithTheTotalizer)
{
    const CliRun run = report({"--format", "csv", "--output", dir->filePath("days.csv")});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    const QStringList lines = csvLines(readFileBytes(dir->filePath("days.csv")));
    ASSERT_EQ(lines.size(), 2 + 14);
    const QMap<QString, int> missing{
        {"2026-03-05", 8}, {"2026-03-08", 2}, {"2026-03-09", 2}, {"2026-03-12", 3}};
    for (int day = 0; day < 14; ++day) {
        const QStringList cells = lines[2 + day].split(u',');
        const QString date = QDate(2026, 3, 2).addDays(day).toString(Qt::ISODate);
        SCOPED_TRACE(date.toStdString());
        ASSERT_EQ(cells.size(), 11);
        EXPECT_EQ(cells[0], date);
        EXPECT_EQ(cells[7].toInt(), 96 - missing.value(date));
        EXPECT_EQ(cells[8], "96");
        EXPECT_EQ(cells[10], date == "2026-03-05" ? "Partial" : "Good");
        // The meter counts through its gaps; elsewhere (not the first day, which has no
        // reading before it to count from) flow x interval is the totalizer's rise.
        if (day > 0 && !missing.contains(date))
            EXPECT_NEAR(cells[1].toDouble(), cells[2].toDouble(), 0.01 * cells[2].toDouble());
        EXPECT_LT(cells[3].toDouble(), cells[4].toDouble());
        EXPECT_LT(cells[4].toDouble(), cells[5].toDouble());
    }
    // The storm's day carries far more water than a dry weekday.
    EXPECT_GT(lines[2 + 8].split(u',')[1].toDouble(), 1.4 * lines[2 + 7].split(u',')[1].toDouble());
}

TEST_F(SurveyReportE2e, thePdfHoldsAFitThatFindsTheSiltAndItsFirstPageIsDrawn)
{
    const QString pdf = dir->filePath("culvert.pdf");
    const CliRun run =
        report({"--output", pdf, "--from", "2026-03-02T00:00:00Z", "--to", "2026-03-16T00:00:00Z"});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.errors);
    const QString text = QString::fromUtf8(outputOf("pdftotext", {"-layout", pdf, "-"}));
    ASSERT_FALSE(text.isEmpty()) << "pdftotext read nothing";

    const QRegularExpression fit(
        QStringLiteral("Stevens-Schutzbach: C = ([0-9.]+) m\\^\\(1/3\\)/s, silt ([0-9.]+) mm"));
    const QRegularExpressionMatch stevens = fit.match(text);
    ASSERT_TRUE(stevens.hasMatch()) << text.toStdString();
    EXPECT_NEAR(stevens.captured(2).toDouble(), 50.0, 5.0);             // the sim's silt bed
    EXPECT_NEAR(stevens.captured(1).toDouble(), 3.4401, 0.03 * 3.4401); // sqrt(0.002) / 0.013
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("Lanfear-Coll: C = [0-9.]+"))));

    const QString picture = dir->filePath("page");
    ASSERT_EQ(QProcess::execute("pdftoppm", {"-png", "-r", "50", "-f", "1", "-l", "1",
                                             "-singlefile", pdf, picture}),
              0);
    const QImage page(picture + ".png");
    ASSERT_FALSE(page.isNull());
    QSet<QRgb> colours;
    for (int y = 0; y < page.height() && colours.size() < 2; ++y)
        for (int x = 0; x < page.width(); ++x)
            colours.insert(page.pixel(x, y));
    EXPECT_GT(colours.size(), 1) << "a blank page";
}

// Each refusal names its reason and leaves no file.
TEST_F(SurveyReportE2e, whatCannotBeReportedIsRefusedWithItsReason)
{
    const QString out = dir->filePath("refused.pdf");
    writeFileBytes(dir->filePath("flow-only.csv"),
                   "Date / Time,Flow,Flow Tot\r\n3/2/2026 12:15:00 AM,1.5,10\r\n");
    const struct {
        QStringList arguments;
        int exitCode;
        const char *reason;
    } rows[] = {
        {{"--station", "nowhere"}, 64, "no station 'nowhere'"},
        {{"--from", "2026-03-03T00:00:00"}, 64, "with its zone"},
        {{"--from", "2027-01-01T00:00:00Z"}, 64, "has no readings from 2027-01-01T00:00:00Z"},
        {{"--total-channel", "6"}, 64, "channel 6 logged nothing"},
        {{"--depth-channel", "2", "--velocity-channel", "2"}, 64, "both channel 2"},
        {{"--pipe-slope", "steep"}, 64, "--pipe-slope"},
        {{"--output", dir->filePath("store.db"), "--format", "gaps"}, 3, "the store's file"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.arguments.join(u' ').toStdString());
        QStringList arguments = QStringList{"--output", out} + row.arguments;
        const CliRun run = report(arguments);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_TRUE(run.errors.contains(QLatin1String(row.reason))) << run.errors.toStdString();
        EXPECT_FALSE(QFile::exists(out));
    }
    const CliRun noDepth = runCli({"report", "--csv", dir->filePath("flow-only.csv"), "--timezone",
                                   "UTC", "--format", "png", "--output", out});
    EXPECT_EQ(noDepth.exitCode, 64);
    EXPECT_TRUE(noDepth.errors.contains("needs a depth and a velocity channel"))
        << noDepth.errors.toStdString();
}

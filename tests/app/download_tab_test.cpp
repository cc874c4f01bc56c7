#include "app/download_tab.h"
#include "chart/log_chart_view.h"
#include "download/results_grid.h"
#include "fake_meter.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class DownloadTabTest : public WindowFixture {
protected:
    void SetUp() override
    {
        meter.setLabel(1, "Flow");
        meter.setLabel(2, "Level");
        QByteArray log;
        for (int i = 0; i < 8; ++i) {
            const QDateTime when(QDate(2026, 12, 1), QTime(9, 0).addSecs(900 * i));
            log += FakeMeter::record(1, when, 10.0f + i) + FakeMeter::record(2, when, 2.5f);
        }
        meter.writeLog(8, 0x80, 0, log);
        meter.setPointers(8, 0x80, 0, 8, 0x80, 0x80, 16, 4096);
        openWindow();
    }

    // The bare name of the settings file: beside the program, not in the current folder.
    QString csv() const
    {
        QFile file(QDir(dir()).filePath(QStringLiteral("Logdata.csv")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
    QString text(const char *box) const { return control<QLineEdit>(box)->text(); }

    FakeMeter meter{port_};
};

} // namespace

TEST_F(DownloadTabTest, downloadDataFillsTheTabTheGridAndTheFileThenConfirms)
{
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(control<QLabel>("Label4")->text(), "Finished. Data in File");
    EXPECT_EQ(control<QProgressBar>("ProgressBar1")->value(), 100);
    EXPECT_EQ(QStringList({text("Text3(0)"), text("Text3(1)"), text("Text3(9)"), text("Text3(8)")}),
              QStringList({"Flow", "Level", "16", "4096"}));
    EXPECT_TRUE(control<QPushButton>("Command2")->isEnabled());
    EXPECT_EQ(window_->results().text(9, 2), "17");
    EXPECT_EQ(meter.confirmations, 1);
    EXPECT_TRUE(csv().startsWith("Date / Time,Flow,Level\r\n12/1/2026 9:00:00 AM,10,2.5\r\n"));
    EXPECT_EQ(csv().count(QStringLiteral("\r\n")), 9);

    auto *chart = window_->findChild<LogChartView *>(QStringLiteral("LogChart"));
    EXPECT_FALSE(chart->hasData()) << "the chart reads the grid only when shown";
    control<QPushButton>("ShowChartButton")->click();
    EXPECT_TRUE(chart->hasData());
}

TEST_F(DownloadTabTest, aSilentMeterShowsTheErrorWritesNothingAndConfirmsNothing)
{
    meter.silentFunctions = {0x03};
    control<QPushButton>("Command7")->click();
    EXPECT_EQ(control<QLabel>("Label4")->text(), "Error in Downloading!!");
    EXPECT_TRUE(csv().isEmpty());
    EXPECT_EQ(meter.confirmations, 0);
    EXPECT_TRUE(control<QPushButton>("Command7")->isEnabled());
}

TEST_F(DownloadTabTest, noSecondDownloadStartsWhileOneRuns)
{
    int nestedClicks = 0;
    pump_.runAfter(2, [&] {
        EXPECT_FALSE(control<QPushButton>("Command2")->isEnabled());
        EXPECT_TRUE(window_->downloadTab().downloadRunning());
        window_->downloadTab().onSinceLastTimeClicked();
        window_->downloadTab().onDownloadClicked();
        ++nestedClicks;
    });
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(nestedClicks, 1);
    EXPECT_EQ(meter.confirmations, 1) << "only the first download ran";
    for (const auto &sent : port_.sends())
        EXPECT_NE(static_cast<quint8>(sent.bytes[1]), 0x61) << "no pointer read of a since-last-time download";
}

TEST_F(DownloadTabTest, thePortableBoxChangesWhereThePointersAreRead)
{
    meter.setPointers(8, 0x80, 0, 8, 0x80, 0x80, 16, 4096, true);
    control<QPushButton>("Command2")->click();
    EXPECT_NE(text("Text3(9)"), "16") << "read a byte late, the counts are wrong";
    control<QCheckBox>("Check2")->click();
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(control<QLabel>("Label4")->text(), "Finished. Data in File");
    EXPECT_EQ(text("Text3(9)"), "16");
}

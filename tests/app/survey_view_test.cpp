#include "app/download_tab.h"
#include "chart/scattergraph_view.h"
#include "download/log_decoder.h"
#include "survey/survey_tables.h"
#include "table/grid_headings.h"
#include "table/meter_float.h"
#include "window_fixture.h"

namespace {

class SurveyViewTest : public WindowFixture {
protected:
    // The window's grid as a download leaves it: these labels, and a row every 15
    // minutes from `start` for `instants`, those `missing` says left out;
    // `values(i)` gives the row's channels.
    void download(const QStringList &labels, QDateTime start, int instants,
                  const std::function<QList<double>(int)> &values,
                  const std::function<bool(int)> &missing = {})
    {
        ResultsGrid &grid = window_->results();
        GridState &state = window_->gridState();
        grid.clear();
        state = GridState{};
        for (int k = 1; k <= labels.size(); ++k)
            state.channel(k).takeMeterLabel(labels[k - 1]);
        setUpGridHeadings(grid);
        setUpChannelHeadings(grid, state);
        for (int i = 0; i < instants; ++i) {
            if (missing && missing(i))
                continue;
            const QDateTime when = start.addSecs(900LL * i);
            QStringList texts{QString::number(state.lastGridRow),
                              stampText(when.date(), when.time())};
            const QList<double> row = values(i);
            for (int k = 1; k <= row.size(); ++k)
                texts << (state.channel(k).total ? totalValueText(row[k - 1])
                                                 : valueText(row[k - 1]));
            grid.setRowTexts(++state.lastGridRow, texts);
        }
        emit window_->downloadTab().resultsChanged();
    }
    // Chooses the item whose data is `data`, as the user picks it.
    void choose(const char *box, const QVariant &data)
    {
        auto *combo = control<QComboBox>(box);
        const int index = combo->findData(data);
        ASSERT_GE(index, 0) << box;
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void showScattergraph()
    {
        window_->show();
        showTab(1);
        click("ShowScattergraphButton");
    }
    QVariant chosen(const char *box) { return control<QComboBox>(box)->currentData(); }
    int points() { return control<ScattergraphView>("Scattergraph")->pointCount(); }
    QString cell(const char *table, int row, int column)
    {
        const QTableWidgetItem *item = control<QTableWidget>(table)->item(row, column);
        return item ? item->text() : QStringLiteral("(none)");
    }

    const QDateTime dec1{QDate(2026, 12, 1), QTime(0, 0)};
};

} // namespace

TEST_F(SurveyViewTest, theRolesUnitsAndPipeChosenAreKeptAcrossARestartBesideTheSettingsFile)
{
    const QStringList labels{"Level", "Vel", "Flow", "Flow Tot", "Depth 2"};
    const auto values = [](int) { return QList<double>{300, 0.5, 10, 100, 310}; };
    openWindow();
    showScattergraph();
    download(labels, dec1, 4, values);
    EXPECT_EQ(QList<QVariant>({chosen("DepthChannel"), chosen("VelocityChannel"),
                               chosen("FlowChannel"), chosen("TotalChannel")}),
              QList<QVariant>({1, 2, 3, 4}))
        << "by the labels until chosen";
    choose("VelocityChannel", 5);
    choose("DepthChannel", 5);
    EXPECT_EQ(chosen("VelocityChannel"), 2)
        << "one part a channel: velocity follows its label again";
    choose("FlowChannel", 0);
    choose("DepthUnit", int(survey::DepthUnit::Inch));
    type("PipeDiameter", "24 in");
    type("PipeSlope", "0.002");
    type("ManningN", "0.013");
    type("PipeSlope", "steep");
    EXPECT_TRUE(control("PipeSlope")->property("invalid").toBool())
        << "refused, and the last good slope kept";
    closeWindow();
    EXPECT_EQ(settingsLines().size(), kSettingsLineCount)
        << "7700dwn.ini as other installations read it";

    openWindow();
    showScattergraph();
    download(labels, dec1, 4, values);
    EXPECT_EQ(QList<QVariant>({chosen("DepthChannel"), chosen("VelocityChannel"),
                               chosen("FlowChannel"), chosen("TotalChannel")}),
              QList<QVariant>({5, 2, 0, 4}))
        << "None stays none though a label says Flow";
    EXPECT_EQ(control<QComboBox>("DepthUnit")->currentText(), "in");
    EXPECT_EQ(QStringList({control<QLineEdit>("PipeDiameter")->text(),
                           control<QLineEdit>("PipeSlope")->text(),
                           control<QLineEdit>("ManningN")->text()}),
              QStringList({"24 in", "0.002", "0.013"}));
    const QByteArray kept = readFile(inDir(kReplyTimeFileName));
    EXPECT_TRUE(kept.contains("[survey]") && kept.contains("flow-channel=none"))
        << kept.toStdString();
}

TEST_F(SurveyViewTest,
       aPeriodNarrowsTheScattergraphsPointsAndANewDownloadShowsAllOfItOnceTheViewIsShown)
{
    openWindow();
    window_->show();
    const auto values = [](int i) { return QList<double>{100.0 + i, 0.3 + i / 1000.0}; };
    download({"Level", "Velocity"}, dec1, 192, values);
    showTab(1);
    click("ShowScattergraphButton");
    EXPECT_EQ(points(), 192);
    auto *from = control<QDateTimeEdit>("SurveyFrom");
    auto *to = control<QDateTimeEdit>("SurveyTo");
    EXPECT_EQ(std::make_pair(from->dateTime(), to->dateTime()),
              std::make_pair(dec1, dec1.addSecs(900 * 191)));
    from->setDateTime(dec1.addDays(1));
    EXPECT_EQ(points(), 96);
    to->setDateTime(dec1.addDays(1).addSecs(900 * 47));
    EXPECT_EQ(points(), 48) << "the last instant shown is in the period";
    from->setDateTime(dec1.addDays(2)); // after the end: the end follows
    EXPECT_EQ(to->dateTime(), from->dateTime());

    showTab(0);
    download({"Level", "Velocity"}, dec1.addDays(3), 10, values);
    EXPECT_EQ(points(), 1) << "not drawn again while not shown";
    showTab(1);
    EXPECT_EQ(points(), 10);
    EXPECT_EQ(from->dateTime(), dec1.addDays(3));
}

TEST_F(SurveyViewTest, theDailyViewCountsEachDaysReadingsFlagsATotalThatDisagreesAndListsTheGap)
{
    openWindow();
    window_->show();
    // 10 l/s, so 9 m3 an interval; the totalizer (in litres) runs 5 % fast on the second day,
    // which lacks 10:00 to 11:45.
    const auto values = [](int i) {
        return QList<double>{300, 0.5, 10,
                             1000000 + 9000.0 * std::min(i, 96) + 9450.0 * std::max(0, i - 96)};
    };
    download({"Level", "Velocity", "Flow", "Flow Tot (l)"}, dec1, 192, values,
             [](int i) { return i >= 96 + 40 && i < 96 + 48; });
    showTab(1);
    click("ShowDailyButton");
    ASSERT_EQ(control<QTableWidget>("DailyTable")->rowCount(), 2);
    const auto row = [&](int r) {
        QStringList texts;
        for (int column = 1; column < control<QTableWidget>("DailyTable")->columnCount(); ++column)
            texts << cell("DailyTable", r, column);
        return texts;
    };
    EXPECT_EQ(row(0).mid(0, 2), QStringList({"2026-12-01", "864"}));
    EXPECT_FALSE(cell("DailyTable", 0, 3).contains("differs"))
        << cell("DailyTable", 0, 3).toStdString();
    EXPECT_EQ(row(0).mid(3), QStringList({"10", "10", "10", "10", "96/96", "100", "Good"}));
    EXPECT_EQ(row(1).mid(0, 2), QStringList({"2026-12-02", "792"}));
    EXPECT_TRUE(cell("DailyTable", 1, 3).contains("differs by"))
        << cell("DailyTable", 1, 3).toStdString();
    EXPECT_EQ(row(1).mid(7),
              QStringList({"88/96", survey::surveyNumber(100 * 88 / 96.0), "Partial"}));
    EXPECT_EQ(
        QStringList({cell("GapsTable", 0, 0), cell("GapsTable", 0, 1), cell("GapsTable", 0, 2)}),
        QStringList({"2026-12-02 10:00:00", "2026-12-02 11:45:00", "8"}));

    // The same numbers said to be US gallons a minute: 10 gpm for 96 quarter hours.
    choose("FlowUnit", int(survey::FlowUnit::Gpm));
    EXPECT_EQ(control<QTableWidget>("DailyTable")->horizontalHeaderItem(2)->text(), "Volume (gal)");
    EXPECT_EQ(row(0).mid(0, 2), QStringList({"2026-12-01", "14400"}));
    EXPECT_EQ(row(0)[3], "10");
    choose("FlowUnit", int(survey::FlowUnit::LitrePerSecond));

    // No tick: the Good day alone makes the pattern; a tick on the day with the gap, that day.
    EXPECT_EQ(cell("DryWeatherTable", 10, 1), "10");
    QCoreApplication::sendPostedEvents(nullptr,
                                       QEvent::DeferredDelete); // the ticks of the days before
    const auto dryDays = control<QTableWidget>("DailyTable")->findChildren<QCheckBox *>("DryDay");
    ASSERT_EQ(dryDays.size(), 2);
    for (QCheckBox *dry : dryDays)
        if (dry->property("date").toDate() == QDate(2026, 12, 2))
            dry->click();
    EXPECT_EQ(cell("DryWeatherTable", 10, 1), "") << "the ticked day has no reading at 10:00";
    EXPECT_EQ(cell("DryWeatherTable", 9, 1), "10");
}

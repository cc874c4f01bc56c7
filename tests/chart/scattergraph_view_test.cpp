// The scattergraph as the window shows it: a date range, zooming with the
// mouse and the wheel, and "Save as PNG" through the file dialog.
#include "chart/scattergraph_view.h"
#include "fake_file_dialogs.h"
#include "tests/report/made_up_survey.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

using testing::MadeUpSurvey;

struct ViewFixture {
    FakeFileDialogs dialogs;
    ScattergraphView view{dialogs};
    MadeUpSurvey made;
    QWidget *plot = nullptr;

    ViewFixture()
    {
        made.missing = {{made.at(3, 10), made.at(3, 12)}};
        made.withPipe = false; // no curves over the points whose pixels are read
        view.resize(900, 650);
        view.show();
        plot = view.findChild<QWidget *>(QStringLiteral("scattergraphPlot"));
        view.setSeries(made.series(), made.at(0, 0), made.at(made.days, 0));
    }
    ScatterFrame frame() const
    {
        return scatterFrame(QRectF(plot->rect()), plot->font(), view.range());
    }
    QPushButton *button(const char *name) const
    {
        return view.findChild<QPushButton *>(QLatin1String(name));
    }
};

bool bluish(QRgb pixel)
{
    return qBlue(pixel) - qRed(pixel) > 40;
}

TEST(ScattergraphView, aDateRangeNarrowsThePointsToThoseLoggedInIt)
{
    ViewFixture f;
    EXPECT_EQ(f.view.pointCount(), 10 * 96 - 8);
    f.view.setSeries(f.made.series(), f.made.at(3, 0), f.made.at(4, 0));
    EXPECT_EQ(f.view.pointCount(), 96 - 8);
    f.view.setSeries(f.made.series(), f.made.at(4, 6), f.made.at(4, 12));
    EXPECT_EQ(f.view.pointCount(), 6 * 4);
    f.view.setSeries(f.made.series(), f.made.at(20, 0), f.made.at(21, 0));
    EXPECT_EQ(f.view.pointCount(), 0);
    EXPECT_FALSE(f.button("scattergraphSaveButton")->isEnabled());
}

TEST(ScattergraphView, draggingABoxZoomsToItAndResetShowsEverythingAgain)
{
    ViewFixture f;
    const ScatterRange all = f.view.range();
    EXPECT_FALSE(f.button("scattergraphResetButton")->isEnabled());
    const ScatterFrame before = f.frame();
    ASSERT_GT(all.depthMax, 120);
    QTest::mousePress(f.plot, Qt::LeftButton, {}, before.toPixel(30, 0.5).toPoint());
    QTest::mouseMove(f.plot, before.toPixel(80, 0.3).toPoint());
    QTest::mouseRelease(f.plot, Qt::LeftButton, {}, before.toPixel(120, 0.15).toPoint());

    // Within a pixel of the box dragged.
    const ScatterRange zoomed = f.view.range();
    const double depthPixel = (all.depthMax - all.depthMin) / before.plot.width();
    const double velocityPixel = (all.velocityMax - all.velocityMin) / before.plot.height();
    EXPECT_NEAR(zoomed.depthMin, 30, depthPixel);
    EXPECT_NEAR(zoomed.depthMax, 120, depthPixel);
    EXPECT_NEAR(zoomed.velocityMin, 0.15, velocityPixel);
    EXPECT_NEAR(zoomed.velocityMax, 0.5, velocityPixel);

    // The points are drawn where the zoomed axes put them: one logged at 04:00, 70 mm deep.
    const QPointF point = f.view.model().points[16];
    const QImage shown = f.plot->grab().toImage();
    const QPointF at = f.frame().toPixel(point.x(), point.y()) * shown.devicePixelRatio();
    EXPECT_TRUE(bluish(shown.pixel(at.toPoint())));

    ASSERT_TRUE(f.button("scattergraphResetButton")->isEnabled());
    f.button("scattergraphResetButton")->click();
    EXPECT_EQ(f.view.range(), all);
}

TEST(ScattergraphView, theWheelZoomsAboutThePointUnderThePointer)
{
    ViewFixture f;
    const ScatterRange all = f.view.range();
    const QPointF pointer = f.frame().toPixel(150, 0.5);
    QWheelEvent wheel(pointer, f.plot->mapToGlobal(pointer), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(f.plot, &wheel);

    const ScatterRange zoomed = f.view.range();
    EXPECT_LT(zoomed.depthMax - zoomed.depthMin, all.depthMax - all.depthMin);
    EXPECT_LT(zoomed.velocityMax - zoomed.velocityMin, all.velocityMax - all.velocityMin);
    const QPointF stays = f.frame().toValue(pointer);
    EXPECT_NEAR(stays.x(), 150, 1e-6);
    EXPECT_NEAR(stays.y(), 0.5, 1e-9);
}

TEST(ScattergraphView, saveAsPngWritesThePlotWhereTheDialogSaysAndNothingWhenCancelled)
{
    ViewFixture f;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scatter.png"));
    f.dialogs.answerNext(std::nullopt);
    f.button("scattergraphSaveButton")->click();
    EXPECT_FALSE(QFile::exists(path));

    f.dialogs.answerNext(path);
    f.button("scattergraphSaveButton")->click();
    const QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    EXPECT_GE(saved.width(), 800);
    EXPECT_TRUE(
        f.view.findChild<QLabel *>(QStringLiteral("scattergraphStatus"))->text().contains(path));

    const QString nowhere = dir.filePath(QStringLiteral("missing-folder/scatter.png"));
    f.dialogs.answerNext(nowhere);
    f.button("scattergraphSaveButton")->click();
    EXPECT_TRUE(f.view.findChild<QLabel *>(QStringLiteral("scattergraphStatus"))
                    ->text()
                    .startsWith(QStringLiteral("Could not save")));
    EXPECT_FALSE(QFile::exists(nowhere));
}

} // namespace
} // namespace ostrand

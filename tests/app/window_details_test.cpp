#include "chart/log_chart_view.h"
#include "window_fixture.h"

namespace {

class WindowDetailsTest : public WindowFixture {
protected:
    void SetUp() override
    {
        openWindow();
        window_->show();
    }
    // Whether `label`'s whole text fits the room it was given, wrapped as it wraps.
    static bool showsAll(const QLabel *label)
    {
        const int flags = label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
        const QRect needed = label->fontMetrics().boundingRect(
            QRect(0, 0, label->contentsRect().width(), 100000), flags, label->text());
        return needed.width() <= label->contentsRect().width() &&
               needed.height() <= label->contentsRect().height();
    }
};

} // namespace

TEST_F(WindowDetailsTest, theChartHintAndTheSlaveIdAreShownWhole)
{
    showTab(1);
    click("ShowChartButton");
    QCoreApplication::processEvents();
    EXPECT_TRUE(showsAll(control<QLabel>("chartHint"))) << control<QLabel>("chartHint")->contentsRect().width();

    showTab(2);
    QCoreApplication::processEvents();
    auto *slaveId = control<QLineEdit>("Text1");
    QStyleOptionFrame option;
    option.initFrom(slaveId);
    option.lineWidth = slaveId->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, slaveId);
    const int room = slaveId->style()->subElementRect(QStyle::SE_LineEditContents, &option, slaveId).width() - 4;
    EXPECT_GE(room, slaveId->fontMetrics().horizontalAdvance("255")) << "three digits fit";
}

TEST_F(WindowDetailsTest, theBoxesSayWhatTheyAreAndTheMeterOnesDoNotInviteTyping)
{
    EXPECT_TRUE(control("Text3(8)")->toolTip().contains("free space in the meter's log"));
    EXPECT_EQ(control("Label3(8)")->toolTip(), control("Text3(8)")->toolTip());
    for (int i = 0; i < 10; ++i) {
        auto *box = control<QLineEdit>(QStringLiteral("Text3(%1)").arg(i));
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->palette().color(QPalette::Base), box->palette().color(QPalette::Window)) << i;
    }
    for (const auto &[label, box] :
         {std::pair{"PhoneLabel", "Text5(0)"}, std::pair{"DescriptionLabel", "Text5(1)"}}) {
        EXPECT_EQ(control<QLabel>(label)->buddy(), control(box));
        EXPECT_FALSE(control<QLabel>(label)->text().isEmpty());
    }
}

#include "chart/log_chart_view.h"
#include "link/crc16.h"
#include "window_fixture.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QTimer>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

class WindowDetailsTest : public WindowFixture {
protected:
    void SetUp() override
    {
        openWindow();
        window_->show();
    }
    void showTab(int index)
    {
        control<QTabWidget>("SSTab1")->setCurrentIndex(index);
        QCoreApplication::processEvents();
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
    EXPECT_TRUE(showsAll(control<QLabel>("chartHint")))
        << control<QLabel>("chartHint")->contentsRect().width();

    showTab(2);
    auto *slaveId = control<QLineEdit>("Text1");
    QStyleOptionFrame option;
    option.initFrom(slaveId);
    option.lineWidth =
        slaveId->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, slaveId);
    const int room =
        slaveId->style()->subElementRect(QStyle::SE_LineEditContents, &option, slaveId).width() - 4;
    EXPECT_GE(room, slaveId->fontMetrics().horizontalAdvance("255")) << "three digits fit";
}

TEST_F(WindowDetailsTest, theBoxesSayWhatTheyAreAndTheMeterOnesDoNotInviteTyping)
{
    EXPECT_TRUE(control("Text3(8)")->toolTip().contains("free space in the meter's log"));
    EXPECT_EQ(control("Label3(8)")->toolTip(), control("Text3(8)")->toolTip());
    for (int i = 0; i < 10; ++i) {
        auto *box = control<QLineEdit>(QStringLiteral("Text3(%1)").arg(i));
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->palette().color(QPalette::Base), box->palette().color(QPalette::Window))
            << i;
    }
    for (const auto &[label, box] :
         {std::pair{"PhoneLabel", "Text5(0)"}, std::pair{"DescriptionLabel", "Text5(1)"}}) {
        EXPECT_EQ(control<QLabel>(label)->buddy(), control(box));
        EXPECT_FALSE(control<QLabel>(label)->text().isEmpty());
    }
}

// Stopped, the poll leaves its last values up, dimmed: nothing keeps them current.
TEST_F(WindowDetailsTest, theDisplaysValuesDimOnceItsPollIsStopped)
{
    port_.setResponder([](const QByteArray &request, FakeSerialPort &p) {
        if (request[1] == 0x03)
            p.deliver(appendCrc(QByteArray::fromHex("010314") + "Line of the screen  "), 5);
    });
    const auto dimmed = [&] { return control("Text4(0)")->property("stale").toBool(); };
    click("Command9");
    QMetaObject::invokeMethod(control<QTimer>("Timer1"), "timeout");
    ASSERT_EQ(control<QLineEdit>("Text4(0)")->text(), "Line of the screen  ");
    EXPECT_FALSE(dimmed());
    click("Command9");
    EXPECT_EQ(control<QLineEdit>("Text4(0)")->text(), "Line of the screen  ");
    EXPECT_TRUE(dimmed());
    click("Command9");
    EXPECT_FALSE(dimmed()) << "polling again";
}

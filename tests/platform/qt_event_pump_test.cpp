#include "platform/qt_event_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

// Bounds are loose on purpose: a loaded build machine may be slow, never early.
class QtEventPumpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QCoreApplication::processEvents(); // leave nothing from earlier tests pending
        timer.start();
    }
    QtEventPump pump;
    QElapsedTimer timer;
};

TEST_F(QtEventPumpTest, AYieldWithNothingToDoSleepsAboutItsMaximumWithoutSpinning)
{
    // Any stray event may end one yield early, so judge several together.
    int yields = 0;
    while (timer.elapsed() < 300) {
        pump.yield(100);
        ++yields;
    }
    EXPECT_LT(yields, 50); // a spinning yield manages thousands
    EXPECT_LT(timer.elapsed(), 1500);
}

TEST_F(QtEventPumpTest, APostedEventIsHandledAndEndsTheWaitEarly)
{
    bool handled = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { handled = true; }, Qt::QueuedConnection);
    pump.yield(5000);
    EXPECT_TRUE(handled);
    EXPECT_LT(timer.elapsed(), 2500);
}

TEST_F(QtEventPumpTest, ATimerDueDuringTheWaitFiresAndEndsIt)
{
    bool fired = false;
    QTimer::singleShot(30, QCoreApplication::instance(), [&] { fired = true; });
    while (!fired && timer.elapsed() < 5000)
        pump.yield(5000);
    EXPECT_TRUE(fired);
    EXPECT_GE(timer.elapsed(), 25);
    EXPECT_LT(timer.elapsed(), 2500);
}

TEST_F(QtEventPumpTest, AHandlerMayYieldInsideAYield)
{
    bool innerDone = false;
    bool later = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            QTimer::singleShot(10, QCoreApplication::instance(), [&] { later = true; });
            while (!later && timer.elapsed() < 5000)
                pump.yield(1000);
            innerDone = true;
        },
        Qt::QueuedConnection);
    while (!innerDone && timer.elapsed() < 5000)
        pump.yield(1000);
    EXPECT_TRUE(innerDone);
    EXPECT_TRUE(later);
    EXPECT_LT(timer.elapsed(), 2500);
}

TEST_F(QtEventPumpTest, SleepHandlesNoEvents)
{
    bool handled = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { handled = true; }, Qt::QueuedConnection);
    pump.sleep(30);
    EXPECT_FALSE(handled);
    EXPECT_GE(timer.elapsed(), 25);
    QCoreApplication::processEvents();
    EXPECT_TRUE(handled);
}

} // namespace
} // namespace ostrand

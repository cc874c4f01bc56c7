#include "app/main_window.h"
#include "fake_file_dialogs.h"
#include "metersim_process.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "qt_printers.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <functional>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// The window's live display, in real time, against the simulated meter.
class DisplayWindowEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.start(dir.path(), {"--records", "20", "--alarms", "8"}));
        window = std::make_unique<MainWindow>(dir.path(), Platform{port, clock, pump, dialogs});
        window->load();
    }
    template <typename W>
    W *control(const char *name)
    {
        return window->findChild<W *>(QLatin1String(name));
    }
    QString line(int i) { return control<QLineEdit>(QStringLiteral("Text4(%1)").arg(i).toLatin1())->text(); }
    // Lets the timers tick until `done` holds or a few seconds pass.
    bool waitFor(const std::function<bool()> &done)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000)
            QTest::qWait(50);
        return done();
    }

    QTemporaryDir dir;
    MeterSimProcess sim;
    QtSerialPort port{dir.path()};
    SystemClock clock;
    QtEventPump pump;
    FakeFileDialogs dialogs;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(DisplayWindowEndToEnd, theTextMeterMirrorsItsFourLinesAndTakesKeys)
{
    control<QPushButton>("Command9")->click();
    ASSERT_TRUE(waitFor([&] { return !line(0).trimmed().isEmpty(); }));
    const QString before = line(0) + line(1) + line(2) + line(3);
    control<QPushButton>("Command1(12)")->click(); // Menu
    EXPECT_TRUE(waitFor([&] { return line(0) + line(1) + line(2) + line(3) != before; }));

    control<QTabWidget>("SSTab1")->setCurrentIndex(0);
    EXPECT_FALSE(control<QTimer>("Timer1")->isActive()) << "leaving the tab stops the text poll";
}

TEST_F(DisplayWindowEndToEnd, everyBlockMeterShowsFlowTotalsAndAlarms)
{
    for (int type : {1, 2, 3}) {
        SCOPED_TRACE(type);
        for (int i = 0; i < 5; ++i)
            control<QLineEdit>(QStringLiteral("Text4(%1)").arg(i).toLatin1())->clear();
        control<QRadioButton>(QStringLiteral("Option5(%1)").arg(type).toLatin1())->click();
        if (type != 3)
            control<QPushButton>("Command9")->click();
        else
            EXPECT_TRUE(control<QTimer>("Timer3")->isActive()) << "the portable polls on selection";
        EXPECT_TRUE(waitFor([&] { return !line(0).isEmpty() && !line(2).isEmpty(); }));
        EXPECT_FALSE(line(4).isEmpty()) << "the lost-signal alarm is on";
        if (type == 2)
            EXPECT_FALSE(line(3).isEmpty()) << "the 8300 shows the reverse total";
    }
}

TEST_F(DisplayWindowEndToEnd, aDownloadCompletesWhileThePortablePollKeepsTicking)
{
    control<QRadioButton>("Option5(3)")->click(); // the portable polls on every tab
    ASSERT_TRUE(waitFor([&] { return !line(0).isEmpty(); }));
    control<QTabWidget>("SSTab1")->setCurrentIndex(0);
    control<QPushButton>("Command2")->click();
    EXPECT_EQ(control<QLabel>("Label4")->text(), "Finished. Data in File");
    EXPECT_TRUE(control<QTimer>("Timer3")->isActive());
}

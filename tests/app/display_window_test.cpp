#include "app/line_worker.h"
#include "link/crc16.h"
#include "window_fixture.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using namespace ostrand;
using namespace ostrand::testing;

namespace {

// "Display Meter" over a scripted meter that shows a text screen, takes keys
// and sends a value block, until the test silences it.
class DisplayWindowTest : public WindowFixture {
protected:
    DisplayWindowTest()
    {
        port_.setResponder([this](const QByteArray &request, FakeSerialPort &p) {
            if (!silent)
                p.deliver(replyTo(request), 5);
        });
    }
    static QByteArray replyTo(const QByteArray &request)
    {
        switch (static_cast<quint8>(request.at(1))) {
        case 0x03:
            return appendCrc(QByteArray::fromHex("010314") + QByteArray("Line of the screen  "));
        case 0x10:
            return appendCrc(request.left(6));
        default: // the value block, all zeros
            return appendCrc(QByteArray::fromHex("01630000") + QByteArray(20, '\0'));
        }
    }
    void tick(const char *timer) { QMetaObject::invokeMethod(control<QTimer>(timer), "timeout"); }
    QString reply() const { return control<QLabel>("DisplayReply")->text(); }
    bool dimmed() const { return control("Text4(0)")->property("stale").toBool(); }
    QString line0() const { return control<QLineEdit>("Text4(0)")->text(); }
    QString caption() const { return control<QPushButton>("Command9")->text(); }

    bool silent = false;
};

} // namespace

// A 7700 read waits up to 30 s for a silent meter: the silence is timed, not the polls.
TEST_F(DisplayWindowTest, aSilent7700IsNamedAndDimmedThreeSecondsAfterItsLastReplyWhileItsReadWaitsAndClearedAtTheNext)
{
    openWindow();
    click("Command9");
    tick("Timer1");
    ASSERT_EQ(line0(), "Line of the screen  ");
    ASSERT_TRUE(reply().isEmpty() && !dimmed());
    const std::int64_t lastReply = clock_.monotonicMs();
    auto *ageTimer = control<QTimer>("ReplyAgeTimer");
    EXPECT_TRUE(ageTimer->isActive());

    silent = true;
    const struct {
        std::int64_t afterMs;
        bool noReply;
        int ageTimerMs; // armed for what is left of the 3 s; 0 when not armed
    } rows[] = {{1500, false, 1500}, {2999, false, 1}, {3000, true, 0}, {9000, true, 0}};
    for (const auto &row : rows) {
        pump_.runAt(lastReply + row.afterMs, [&, row] {
            tick("ReplyAgeTimer");
            EXPECT_TRUE(window_->line().busy()) << "a read still waits at " << row.afterMs;
            EXPECT_EQ(reply(), row.noReply ? "No reply from meter" : "") << row.afterMs;
            EXPECT_EQ(dimmed(), row.noReply) << row.afterMs;
            EXPECT_EQ(ageTimer->isActive() ? ageTimer->interval() : 0, row.ageTimerMs) << row.afterMs;
            EXPECT_EQ(line0(), "Line of the screen  ") << "the last values stay";
        });
    }
    // The meter comes back 10 s into the wait and answers the read that waits.
    pump_.runAt(lastReply + 10000, [&] {
        silent = false;
        port_.deliver(replyTo(port_.sends().back().bytes));
    });
    pump_.runAt(lastReply + 10050, [&] {
        EXPECT_TRUE(reply().isEmpty() && !dimmed()) << "cleared at the reply, before the poll ends";
    });
    tick("Timer1");
    EXPECT_GT(clock_.monotonicMs(), lastReply + 10050);
    EXPECT_TRUE(reply().isEmpty() && !dimmed());

    // Stop ends a waiting poll at once; a poll cut short is not a silent meter.
    silent = true;
    pump_.runAt(clock_.monotonicMs() + 1000, [&] { click("Command9"); });
    tick("Timer1");
    EXPECT_EQ(caption(), "&Begin");
    EXPECT_TRUE(reply().isEmpty());
    EXPECT_FALSE(window_->line().busy());
}

TEST_F(DisplayWindowTest, thePortablePollsFromItsChoiceOnEveryTabAndBeginStartsItAgainAfterAStop)
{
    openWindow();
    const struct {
        const char *action; // a control clicked, or "tab" to go to Download
        bool polls;
    } steps[] = {{"Option5(3)", true}, {"Command9", false}, {"Command9", true}, {"tab", true},
                 {"Command9", false}, {"Command9", true}};
    for (const auto &step : steps) {
        const std::string at = std::string(step.action) + " at step " + std::to_string(int(&step - steps));
        if (QByteArray(step.action) == "tab")
            control<QTabWidget>("SSTab1")->setCurrentIndex(0);
        else
            click(step.action);
        EXPECT_EQ(control<QTimer>("Timer3")->isActive(), step.polls) << at;
        EXPECT_EQ(caption(), step.polls ? "&Stop" : "&Begin") << at;
        if (!step.polls)
            continue;
        control<QLineEdit>("Text4(0)")->clear();
        const std::size_t sent = port_.sends().size();
        tick("Timer3");
        ASSERT_EQ(port_.sends().size(), sent + 1) << at;
        EXPECT_EQ(port_.sends().back().bytes.toHex(), "01634009") << at;
        EXPECT_FALSE(line0().isEmpty()) << at;
    }
}

// Every key the help page names presses its button wherever the focus is on the
// tab, and each button's tooltip names its keys.
TEST_F(DisplayWindowTest, theKeyboardPressesTheMetersKeysWhileTheKeypadIsShown)
{
    openWindow();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    QList<int> pressed;
    for (int i = 0; i < 16; ++i) {
        auto *key = control<QPushButton>(QStringLiteral("Command1(%1)").arg(i));
        QObject::connect(key, &QPushButton::clicked, [&pressed, i] { pressed << i; });
    }
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int button;
    } keys[] = {{Qt::Key_1, {}, 0},          {Qt::Key_2, {}, 1},
                {Qt::Key_3, {}, 2},          {Qt::Key_Period, {}, 3},
                {Qt::Key_4, {}, 4},          {Qt::Key_5, Qt::KeypadModifier, 5},
                {Qt::Key_6, {}, 6},          {Qt::Key_PageUp, {}, 7},
                {Qt::Key_7, {}, 8},          {Qt::Key_8, {}, 9},
                {Qt::Key_9, {}, 10},         {Qt::Key_PageDown, {}, 11},
                {Qt::Key_M, {}, 12},         {Qt::Key_0, {}, 13},
                {Qt::Key_Return, {}, 14},    {Qt::Key_N, {}, 15},
                {Qt::Key_Up, {}, 7},         {Qt::Key_Down, {}, 11},
                {Qt::Key_Enter, Qt::KeypadModifier, 14}, {Qt::Key_Backspace, {}, 11}};
    const char *focus[] = {"Option5(0)", "Text4(1)", "Command9", "Command1(5)"};
    // A button pressed again within its 100 ms click animation counts once: the
    // keys go in rounds of distinct buttons.
    const std::pair<int, int> rounds[] = {{0, 16}, {16, 19}, {19, 20}};
    for (const auto &[first, last] : rounds) {
        QList<int> expected;
        pressed.clear();
        for (int k = first; k < last; ++k) {
            control(focus[k % 4])->setFocus();
            QTest::keyClick(QApplication::focusWidget(), keys[k].key, keys[k].modifiers);
            expected << keys[k].button;
        }
        QTest::qWait(150);
        EXPECT_EQ(pressed, expected) << "keys " << first << " to " << last - 1;
    }
    EXPECT_TRUE(control<QAbstractButton>("Option5(0)")->isChecked()) << "the arrows did not change the type";
    EXPECT_EQ(control("Command1(7)")->toolTip(), "Key: PgUp or Up");
    EXPECT_EQ(control("Command1(11)")->toolTip(), "Key: PgDown, Down or Backspace");
    EXPECT_EQ(control("Command1(3)")->toolTip(), "Key: .");

    click("Option5(1)"); // the 8100 has no keypad
    pressed.clear();
    for (Qt::Key key : {Qt::Key_1, Qt::Key_Up, Qt::Key_M})
        QTest::keyClick(window_.get(), key);
    QTest::qWait(150);
    EXPECT_TRUE(pressed.isEmpty());
}

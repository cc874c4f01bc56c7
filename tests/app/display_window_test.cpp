#include "window_fixture.h"

#include <algorithm>
#include <vector>

namespace {

// "Display Meter" over a meter that shows a text screen, takes keys and sends a
// value block of zeros, until the test silences it.
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
        const auto function = static_cast<quint8>(request.at(1));
        return appendCrc(function == 0x03   ? QByteArray::fromHex("010314") + "Line of the screen  "
                         : function == 0x10 ? request.left(6)
                                            : QByteArray::fromHex("01630000") + QByteArray(20, '\0'));
    }
    QString reply() const { return label("DisplayReply"); }
    bool dimmed() const { return control("Text4(0)")->property("stale").toBool(); }
    QString line0() const { return control<QLineEdit>("Text4(0)")->text(); }
    // The keys the meter was sent from the `from`th request on.
    QByteArray keysWritten(std::size_t from = 0) const
    {
        QByteArray keys;
        for (std::size_t i = from; i < port_.sends().size(); ++i)
            keys += port_.sends()[i].bytes.at(1) == 0x10 ? port_.sends()[i].bytes.mid(7, 1) : "";
        return keys;
    }

    bool silent = false;
};

} // namespace

// Keys pressed before Begin, then a silence: the 7700 is named and dimmed 3 s after its last reply while
// its read waits, the keys pressed meanwhile are dropped, and the next reply clears it all.
TEST_F(DisplayWindowTest, keysPressedIntoASilenceAreDroppedWithAWordAndTheKeypadIsOffUntilTheNextReply)
{
    openWindow();
    std::vector<std::pair<std::int64_t, QString>> words;
    QObject::connect(window_->statusBar(), &QStatusBar::messageChanged,
                     [&](const QString &text) { words.emplace_back(clock_.monotonicMs(), text); });
    QWidget *keypad = control("Frame11");
    click("Command1(12)"); // "M" and "E", pressed long before "Begin": the first polls send them
    click("Command1(14)");
    EXPECT_TRUE(port_.sends().empty());
    clock_.advance(60000);
    click("Command9");
    tick("Timer1");
    tick("Timer1");
    EXPECT_EQ(keysWritten(), "ME");
    EXPECT_EQ(port_.sends().front().bytes.at(1), 0x10) << "the first poll begins with the key";
    ASSERT_TRUE(line0() == "Line of the screen  " && reply().isEmpty() && !dimmed());
    const std::int64_t lastReply = clock_.monotonicMs();
    silent = true;
    click("Command1(0)"); // "1", queued as the meter stops answering: the next tick's write goes unanswered
    pump_.runAt(lastReply + 2000, [&] { click("Command1(1)"); }); // "2", waits behind the poll
    // ms after the last reply; the age timer is armed for what is left of the 3 s.
    const struct { std::int64_t afterMs; bool noReply; int ageTimerMs; } rows[] = {
        {1500, false, 1500}, {2999, false, 1}, {3000, true, 0}, {9000, true, 0}};
    for (const auto &row : rows) {
        pump_.runAt(lastReply + row.afterMs, [&, row] {
            tick("ReplyAgeTimer");
            const auto *ageTimer = control<QTimer>("ReplyAgeTimer");
            EXPECT_TRUE(window_->line().busy()) << "a read still waits at " << row.afterMs;
            EXPECT_EQ(reply(), row.noReply ? "No reply from meter" : "") << row.afterMs;
            EXPECT_EQ(dimmed(), row.noReply) << row.afterMs;
            EXPECT_EQ(keypad->isEnabled(), !row.noReply) << row.afterMs;
            EXPECT_EQ(ageTimer->isActive() ? ageTimer->interval() : 0, row.ageTimerMs) << row.afterMs;
            EXPECT_EQ(line0(), "Line of the screen  ") << "the last values stay";
            if (row.afterMs == 3000) {
                EXPECT_EQ(message(), "No reply from meter: keys not yet sent are dropped, the keypad is off until it answers");
            }
        });
    }
    pump_.runAt(lastReply + 6000, [&] {
        click("Command1(5)"); // a disabled key does nothing
        QMetaObject::invokeMethod(control("Command1(14)"), "clicked"); // a click already on its way
        EXPECT_EQ(message(), "Enter not sent: no reply from meter");
    });
    std::size_t sentAtReturn = 0;
    pump_.runAt(lastReply + 10000, [&] { // the meter answers the waiting read
        silent = false;
        sentAtReturn = port_.sends().size();
        port_.deliver(replyTo(port_.sends().back().bytes));
    });
    pump_.runAt(lastReply + 10050, [&] {
        EXPECT_TRUE(reply().isEmpty() && !dimmed() && keypad->isEnabled()) << "before the poll ends";
    });
    tick("Timer1");
    EXPECT_GT(clock_.monotonicMs(), lastReply + 10050);
    const auto said = [&](const QString &text) {
        return std::find_if(words.begin(), words.end(), [&](const auto &word) { return word.second == text; });
    };
    const auto firstDropped = said("Not sent, as the meter stopped answering: 1");
    ASSERT_NE(firstDropped, words.end());
    EXPECT_GE(firstDropped->first, lastReply + 3000);
    EXPECT_LE(firstDropped->first, lastReply + 10100) << "said by the poll it was dropped in";
    EXPECT_NE(said("Not sent, as the meter stopped answering: 2"), words.end());

    tick("Timer1");
    EXPECT_EQ(keysWritten(sentAtReturn), "") << "nothing pressed into the silence reaches the meter";
    click("Command1(13)"); // "0", pressed with the meter answering
    tick("Timer1");
    EXPECT_EQ(keysWritten(sentAtReturn), "0");

    silent = true; // a poll cut short by Stop is not a silent meter, but its values are dimmed
    pump_.runAt(clock_.monotonicMs() + 1000, [&] { click("Command9"); });
    tick("Timer1");
    EXPECT_TRUE(reply().isEmpty() && !window_->line().busy());
    EXPECT_EQ(line0(), "Line of the screen  ");
    EXPECT_TRUE(dimmed()) << "stopped: nothing keeps them current";
    click("Command9");
    EXPECT_FALSE(dimmed()) << "polling again";
}

TEST_F(DisplayWindowTest, thePortablePollsFromItsChoiceOnEveryTabAndBeginStartsItAgainAfterAStop)
{
    openWindow();
    const std::pair<const char *, bool> steps[] = {{"Option5(3)", true}, {"Command9", false}, {"Command9", true},
                                                   {"tab", true},        {"Command9", false}, {"Command9", true}};
    for (const auto &[action, polls] : steps) {
        const std::string at = action + std::string(" at step ") + std::to_string(&action - &steps[0].first);
        action == std::string("tab") ? showTab(0) : click(action);
        EXPECT_EQ(control<QTimer>("Timer3")->isActive(), polls) << at;
        EXPECT_EQ(control<QAbstractButton>("Command9")->text(), polls ? "&Stop" : "&Begin") << at;
        if (!polls)
            continue;
        const std::size_t sent = port_.sends().size();
        tick("Timer3");
        EXPECT_EQ(port_.sends().size(), sent + 1) << at << ": a tick polls";
    }
}

TEST_F(DisplayWindowTest, theKeyboardPressesTheMetersKeysWhileTheKeypadIsShown)
{
    openWindow();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    QList<int> pressed;
    for (int i = 0; i < 16; ++i)
        QObject::connect(control<QAbstractButton>(QStringLiteral("Command1(%1)").arg(i)), &QAbstractButton::clicked,
                         [&pressed, i] { pressed << i; });
    const Qt::KeyboardModifier pad = Qt::KeypadModifier;
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, int> keys[] = {
        {Qt::Key_1, {}, 0}, {Qt::Key_2, {}, 1}, {Qt::Key_3, {}, 2}, {Qt::Key_Period, {}, 3}, {Qt::Key_4, {}, 4},
        {Qt::Key_5, pad, 5}, {Qt::Key_6, {}, 6}, {Qt::Key_PageUp, {}, 7}, {Qt::Key_7, {}, 8}, {Qt::Key_8, {}, 9},
        {Qt::Key_9, {}, 10}, {Qt::Key_PageDown, {}, 11}, {Qt::Key_M, {}, 12}, {Qt::Key_0, {}, 13},
        {Qt::Key_Return, {}, 14}, {Qt::Key_N, {}, 15}, // a round of distinct buttons: a button
        {Qt::Key_Up, {}, 7}, {Qt::Key_Down, {}, 11}, {Qt::Key_Enter, pad, 14}, // pressed again within its
        {Qt::Key_Backspace, {}, 11}}; // 100 ms click animation counts once
    const char *focus[] = {"Option5(0)", "Text4(1)", "Command9", "Command1(5)"};
    for (const auto &[first, last] : {std::pair{0, 16}, {16, 19}, {19, 20}}) {
        QList<int> expected;
        pressed.clear();
        for (int k = first; k < last; ++k) {
            control(focus[k % 4])->setFocus();
            QTest::keyClick(QApplication::focusWidget(), std::get<0>(keys[k]), std::get<1>(keys[k]));
            expected << std::get<2>(keys[k]);
        }
        QTest::qWait(150);
        EXPECT_EQ(pressed, expected) << "keys " << first << " to " << last - 1;
    }
    EXPECT_TRUE(control<QAbstractButton>("Option5(0)")->isChecked()) << "the arrows did not change the type";
    EXPECT_EQ(control("Command1(11)")->toolTip(), "Key: PgDown, Down or Backspace");

    click("Option5(1)"); // the 8100 has no keypad
    pressed.clear();
    for (Qt::Key key : {Qt::Key_1, Qt::Key_Up, Qt::Key_M})
        QTest::keyClick(window_.get(), key);
    QTest::qWait(150);
    EXPECT_TRUE(pressed.isEmpty());
}

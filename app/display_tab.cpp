#include "display_tab.h"

#include "app/settings_file.h"
#include "app/tab_widgets.h"
#include "app/display_controls.h"
#include "app/line_worker.h"
#include "display/display_poller.h"
#include "display/display_timers.h"
#include "display/display_units.h"
#include "display/keypad.h"
#include "display/meter_type.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

namespace ostrand {
namespace {

// Runs `onEnd` when the last copy of the job holding it goes, whether the job
// ran or was stopped before it began: the window always hears its poll is over.
class JobEnd {
public:
    explicit JobEnd(std::function<void()> onEnd) : onEnd_(std::move(onEnd)) {}
    ~JobEnd() { onEnd_(); }
    JobEnd(const JobEnd &) = delete;
    JobEnd &operator=(const JobEnd &) = delete;

private:
    std::function<void()> onEnd_;
};

} // namespace

DisplayTab::DisplayTab(LineWorker &line, Clock &clock, QWidget *parent)
    : QWidget(parent), line_(line), relay_(std::make_unique<Relay>(*this)), watch_(clock)
{
    auto *typeFrame = groupBox(QStringLiteral("Frame10"), QStringLiteral("Meter Type"));
    meterTypeGroup_ = new QButtonGroup(this);
    auto *types = new QVBoxLayout(typeFrame);
    const QString typeCaptions[] = {QStringLiteral("7700 &Series"), QStringLiteral("&8100 "),
                                    QStringLiteral("8&300 "), QStringLiteral("&R1900 Portable")};
    for (int i = 0; i < 4; ++i) {
        auto *button = named(new QRadioButton(typeCaptions[i]), elementName("Option5", i));
        meterTypeGroup_->addButton(button, i);
        types->addWidget(button);
    }
    meterTypeGroup_->button(0)->setChecked(true);
    connect(meterTypeGroup_, &QButtonGroup::idClicked, this, &DisplayTab::onMeterTypeClicked);
    beginButton_ = named(new QPushButton(QStringLiteral("&Begin")), QStringLiteral("Command9"));
    types->addWidget(beginButton_);
    types->addStretch(1);

    // The meter's four-line panel: fixed pitch, so columns line up as on the meter.
    auto *panelFrame = groupBox(elementName("Frame8", 0), QString());
    auto *panel = new QVBoxLayout(panelFrame);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(fixed.pointSizeF() * 1.25);
    for (int i = 0; i < kDisplayLineCount; ++i) {
        lineBoxes_[i] = named(new QLineEdit, elementName("Text4", i));
        lineBoxes_[i]->setFont(fixed);
        lineBoxes_[i]->setReadOnly(true);
        lineBoxes_[i]->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(QLatin1Char('M')) *
                                       22);
    }
    // Dark glass and green segments, as on the meter's own panel.
    panelFrame->setStyleSheet(QStringLiteral(
        "QGroupBox { background: #0f1b12; border: 3px solid #4a4f55; border-radius: 8px; "
        "margin-top: 0px; }"
        "QLineEdit { background: #0f1b12; color: #a6f08e; border: none; padding: 1px 6px; }"
        "QLineEdit[stale=\"true\"] { color: #55704c; }"
        "QLabel { color: #f0c36e; background: transparent; }"));
    panel->setSpacing(0);
    panel->setContentsMargins(10, 10, 10, 10);
    for (int i = 0; i < kAlarmLine; ++i)
        panel->addWidget(lineBoxes_[i]);
    replyLabel_ = named(new QLabel, QStringLiteral("DisplayReply"));
    panel->addWidget(replyLabel_);
    alarmsLabel_ = named(new QLabel(QStringLiteral("Alarms")), QStringLiteral("Label10"));
    alarmsLabel_->setVisible(false);
    lineBoxes_[kAlarmLine]->setVisible(false);
    auto *alarms = new QHBoxLayout;
    alarms->addWidget(alarmsLabel_);
    alarms->addWidget(lineBoxes_[kAlarmLine], 1);

    // Each key's code joins the keys waiting for the meter.
    keypadFrame_ = keypadFrame([this](int button) { onKeyClicked(button); });

    // Beside the values they qualify: flow, total, format, velocity.
    auto *units = new QVBoxLayout;
    for (int i = 0; i < 4; ++i) {
        const UnitList &list = unitList(i + 1);
        unitLists_[i] = unitCombo(list);
        unitFrames_[i] = groupBox(QStringLiteral("Frame%1").arg(12 + i), list.frameCaption);
        auto *box = new QVBoxLayout(unitFrames_[i]);
        box->setContentsMargins(6, 2, 6, 2);
        box->addWidget(unitLists_[i]);
        unitFrames_[i]->setVisible(false);
        units->addWidget(unitFrames_[i]);
    }
    units->addStretch(1);

    textTimer_ = named(new QTimer(this), QStringLiteral("Timer1"));
    textTimer_->setInterval(750);
    blockTimer_ = named(new QTimer(this), QStringLiteral("Timer2"));
    blockTimer_->setInterval(1000);
    portableTimer_ = named(new QTimer(this), QStringLiteral("Timer3"));
    portableTimer_->setInterval(1000);
    replyAgeTimer_ = named(new QTimer(this), QStringLiteral("ReplyAgeTimer"));
    replyAgeTimer_->setSingleShot(true);
    connect(replyAgeTimer_, &QTimer::timeout, this, &DisplayTab::showReplyState);
    // A tick finds the link busy (a download, a dial, or its own last exchange
    // still waiting) and simply passes: the next tick tries again.
    connect(textTimer_, &QTimer::timeout, this, &DisplayTab::onTextTimer);
    connect(blockTimer_, &QTimer::timeout, this, &DisplayTab::onBlockTimer);
    connect(portableTimer_, &QTimer::timeout, this, &DisplayTab::onBlockTimer);
    connect(beginButton_, &QPushButton::clicked, this, &DisplayTab::onBeginClicked);

    auto *middle = new QVBoxLayout;
    middle->addWidget(panelFrame);
    middle->addLayout(alarms);
    middle->addStretch(1);
    auto *top = new QHBoxLayout;
    top->addWidget(typeFrame);
    top->addLayout(middle, 1);
    top->addLayout(units);
    top->addWidget(keypadFrame_);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addStretch(1);

    // The work runs type, start, units, keys; the read-only lines come last.
    QList<QWidget *> order;
    for (QAbstractButton *type : meterTypeGroup_->buttons())
        order << type;
    order << beginButton_;
    order.append({unitLists_.begin(), unitLists_.end()});
    order.append(keypadFrame_->findChildren<QWidget *>(Qt::FindDirectChildrenOnly));
    order.append({lineBoxes_.begin(), lineBoxes_.end()});
    chainTabOrder(order);

}

// The tab as the polls see it from the line's thread: lines and answers go to
// the window's thread, the selection is the one the tick was given.
class DisplayTab::Relay : public DisplayView {
public:
    Relay(DisplayTab &tab) : tab_(tab) {}
    void setLine(int line, const QString &text) override
    {
        tab_.line_.toWindow([tab = &tab_, line, text] { tab->setLine(line, text); });
    }
    DisplaySelection selection() const override { return selected; }
    void replyReceived() override
    {
        tab_.line_.toWindow([tab = &tab_] { tab->replyReceived(); });
    }
    void pollEnded(bool answered) override
    {
        tab_.line_.toWindow([tab = &tab_, answered] { tab->pollEnded(answered); });
    }
    int silences() const override { return tab_.silences_.load(); }
    void keysDropped(const QByteArray &codes) override
    {
        tab_.line_.toWindow([tab = &tab_, codes] { tab->onKeysDropped(codes); });
    }
    DisplaySelection selected;

private:
    DisplayTab &tab_;
};

DisplayTab::~DisplayTab() = default;

MeterType DisplayTab::meterType() const
{
    return meterTypeFromIndex(meterTypeGroup_->checkedId()).value_or(MeterType::Series7700);
}

void DisplayTab::leave()
{
    applyDisplayTransition(displayTransition(DisplayEvent::LeftDisplayTab, meterType()),
                           *textTimer_, *blockTimer_, *portableTimer_, *this);
    showPollingState();
    showReplyState();
}

bool DisplayTab::polling() const
{
    return textTimer_->isActive() || blockTimer_->isActive() || portableTimer_->isActive();
}

void DisplayTab::showPollingState()
{
    beginButton_->setText(polling() ? QStringLiteral("&Stop") : QStringLiteral("&Begin"));
}

void DisplayTab::stopPolling()
{
    applyDisplayTransition(displayTransition(DisplayEvent::Stop, meterType()), *textTimer_,
                           *blockTimer_, *portableTimer_, *this);
    replyAgeTimer_->stop();
    // A poll waiting for a silent meter would keep the port for up to 30 s.
    if (watch_.pollRunning())
        line_.requestStop();
    showPollingState();
    showReplyState();
}

void DisplayTab::startFresh(MeterType type)
{
    watch_.start(type);
    showReplyState();
}

void DisplayTab::onBeginClicked()
{
    if (polling()) {
        stopPolling();
        return;
    }
    applyDisplayTransition(displayTransition(DisplayEvent::Begin, meterType()), *textTimer_,
                           *blockTimer_, *portableTimer_, *this);
    showPollingState();
    startFresh(meterType());
}

void DisplayTab::onMeterTypeClicked(int index)
{
    const auto type = meterTypeFromIndex(index);
    if (!type)
        return;
    const MeterTypeInfo &info = meterTypeInfo(*type);
    keypadFrame_->setVisible(info.keypadVisible);
    applyDisplayTransition(displayTransition(DisplayEvent::MeterTypeSelected, *type), *textTimer_,
                           *blockTimer_, *portableTimer_, *this);
    showPollingState();
    startFresh(*type);
    lineBoxes_[kAlarmLine]->setVisible(info.unitControlsVisible);
    alarmsLabel_->setVisible(info.unitControlsVisible);
    for (QGroupBox *frame : unitFrames_)
        frame->setVisible(info.unitControlsVisible);
}

void DisplayTab::onTextTimer()
{
    tick(true);
}

void DisplayTab::onBlockTimer()
{
    tick(false);
}

void DisplayTab::tick(bool textDisplay)
{
    if (!line_.busy()) {
        watch_.pollStarted();
        const DisplaySelection selected = selection();
        // Held by the job alone, so it goes when the job does.
        auto end = std::make_shared<JobEnd>([this] { line_.toWindow([this] { onPollFinished(); }); });
        line_.run([this, textDisplay, selected, end = std::move(end)](MeterLink &link) {
            if (!poller_)
                poller_ = std::make_unique<DisplayPoller>(link, *relay_);
            relay_->selected = selected;
            if (textDisplay)
                poller_->pollTextDisplay();
            else
                poller_->pollDisplayBlock();
        });
    }
    showReplyState();
}

void DisplayTab::onKeyClicked(int button)
{
    // A click already on its way when the keypad went off.
    if (watch_.noReply()) {
        emit noticeShown(QStringLiteral("%1 not sent: no reply from meter").arg(keypadCaption(button)));
        return;
    }
    // The key waits its turn behind a poll that is running, as on the meter;
    // should the meter fall silent meanwhile, the count taken now drops it.
    line_.run([this, button, silences = silences_.load()](MeterLink &link) {
        if (!poller_)
            poller_ = std::make_unique<DisplayPoller>(link, *relay_);
        poller_->pressKey(button, silences);
    });
}

void DisplayTab::showKeypadState()
{
    const bool off = watch_.noReply();
    if (off == keypadOff_)
        return;
    keypadOff_ = off;
    if (off)
        ++silences_;
    keypadFrame_->setEnabled(!off);
    if (off && !keypadFrame_->isHidden() && polling())
        emit noticeShown(QStringLiteral(
            "No reply from meter: keys not yet sent are dropped, the keypad is off until it answers"));
}

void DisplayTab::onKeysDropped(const QByteArray &codes)
{
    QStringList captions;
    for (const char code : codes) {
        for (int button = 0; button < kKeypadButtons; ++button) {
            if (keypadCode(button) == code)
                captions << keypadCaption(button);
        }
    }
    emit noticeShown(QStringLiteral("Not sent, as the meter stopped answering: %1")
                         .arg(captions.join(QStringLiteral(", "))));
}

void DisplayTab::replyReceived()
{
    watch_.replied();
    showReplyState();
}

void DisplayTab::pollEnded(bool answered)
{
    // A poll cut short by Stop (or by leaving the tab) was not ignored by the meter.
    if (polling())
        watch_.pollEnded(answered);
    showReplyState();
}

void DisplayTab::onPollFinished()
{
    watch_.pollFinished();
    showReplyState();
}

void DisplayTab::showReplyState()
{
    replyLabel_->setText(watch_.noReply() ? QStringLiteral("No reply from meter") : QString());
    showKeypadState();
    // Once no poll runs, nothing keeps the values current: they read as the last known.
    setStale(!polling() || watch_.stale());
    const auto next = polling() ? watch_.msUntilChange() : std::nullopt;
    if (next)
        replyAgeTimer_->start(static_cast<int>(*next));
    else
        replyAgeTimer_->stop();
}

void DisplayTab::setStale(bool stale)
{
    // Values too old to describe the meter (no answer, or the link busy with a
    // download) are dimmed, not cleared, so the last known reading stays legible.
    for (QLineEdit *box : lineBoxes_) {
        if (box->property("stale").toBool() == stale)
            continue;
        box->setProperty("stale", stale);
        box->style()->unpolish(box);
        box->style()->polish(box);
    }
}

void DisplayTab::setLine(int line, const QString &text)
{
    if (line >= 0 && line < kDisplayLineCount)
        lineBoxes_[line]->setText(text);
}

DisplaySelection DisplayTab::selection() const
{
    DisplaySelection s;
    s.type = meterType();
    s.flowUnits = listPosition(unitLists_[0]);
    s.totalUnits = listPosition(unitLists_[1]);
    s.flowFormat = listPosition(unitLists_[2]);
    s.velocityUnits = listPosition(unitLists_[3]);
    return s;
}

void DisplayTab::apply(const Settings &settings)
{
    if (settings.meterTypeIndex) {
        selectOption(meterTypeGroup_, *settings.meterTypeIndex);
        onMeterTypeClicked(*settings.meterTypeIndex);
    }
    const std::optional<int> positions[] = {settings.flowUnits, settings.totalUnits,
                                            settings.flowFormat, settings.velocityUnits};
    for (int i = 0; i < 4; ++i) {
        if (positions[i])
            unitLists_[i]->setCurrentIndex(*positions[i]);
    }
}

void DisplayTab::store(Settings &settings) const
{
    settings.meterTypeIndex = checkedOption(meterTypeGroup_);
    const DisplaySelection lists = selection();
    settings.flowUnits = lists.flowUnits;
    settings.flowFormat = lists.flowFormat;
    settings.velocityUnits = lists.velocityUnits;
    settings.totalUnits = lists.totalUnits;
}

} // namespace ostrand

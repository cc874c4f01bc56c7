#pragma once

#include "display/display_view.h"
#include "display/reply_watch.h"

#include <QWidget>
#include <array>
#include <atomic>
#include <memory>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace ostrand {

class Clock;
class DisplayPoller;
class LineWorker;
struct Settings;

// "Display Meter": the meter's own panel, polled live, with its keypad and,
// for the portable meter, the units its values are shown in.
class DisplayTab : public QWidget, private DisplayView {
    Q_OBJECT
public:
    // `clock` is the window's: the meter's silence is timed on it.
    DisplayTab(LineWorker &line, Clock &clock, QWidget *parent = nullptr);
    ~DisplayTab() override;

    // The tab was left: the polls that only this tab shows stop.
    void leave();
    // Every poll stops, as for "Stop" (and at exit).
    void stopPolling();

    void apply(const Settings &settings);
    void store(Settings &settings) const;

signals:
    // A word for the status bar: keys that were not sent, and why.
    void noticeShown(const QString &text);

private:
    void onMeterTypeClicked(int index);
    void onBeginClicked();
    bool polling() const;
    // "Begin" reads "Stop" while a poll runs.
    void showPollingState();
    void onTextTimer();
    void onBlockTimer();
    MeterType meterType() const;
    void setLine(int line, const QString &text) override;
    DisplaySelection selection() const override;
    void replyReceived() override;
    void pollEnded(bool answered) override;
    void onPollFinished();
    // "No reply from meter" and the dimmed values as the watch has them now.
    void showReplyState();
    void setStale(bool stale);
    void startFresh(MeterType type);
    // Runs one poll, or a key press, on the line; a tick that finds the line
    // busy (a download, a dial, the last poll still waiting) simply passes.
    void tick(bool textDisplay);
    void onKeyClicked(int button);
    // The keypad is off while "No reply from meter" shows; each time that
    // comes on counts as a silence, which drops the keys pressed before it.
    void showKeypadState();
    void onKeysDropped(const QByteArray &codes);

    class Relay;
    LineWorker &line_;
    // Used on the line's thread only, made there by the first poll or key.
    std::unique_ptr<DisplayPoller> poller_;
    std::unique_ptr<Relay> relay_;
    ReplyWatch watch_;
    // Read by the polls on the line's thread.
    std::atomic<int> silences_{0};
    bool keypadOff_ = false;
    QButtonGroup *meterTypeGroup_ = nullptr;
    std::array<QLineEdit *, kDisplayLineCount> lineBoxes_{};
    QLabel *alarmsLabel_ = nullptr;
    QLabel *replyLabel_ = nullptr;
    QPushButton *beginButton_ = nullptr;
    QGroupBox *keypadFrame_ = nullptr;
    // Flow units, total units, flow format, velocity units.
    std::array<QGroupBox *, 4> unitFrames_{};
    std::array<QComboBox *, 4> unitLists_{};
    QTimer *textTimer_ = nullptr;
    QTimer *blockTimer_ = nullptr;
    QTimer *portableTimer_ = nullptr;
    // Fires when the silence next crosses a limit, between the polls' own ticks.
    QTimer *replyAgeTimer_ = nullptr;
};

} // namespace ostrand

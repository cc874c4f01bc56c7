#pragma once

#include "app/settings_file.h"
#include "link/link_observer.h"
#include "monitor/frame_monitor.h"
#include "platform/file_locations.h"
#include "table/grid_state.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QLabel;
class QTabWidget;

namespace ostrand {

class Clock;
class DialerTab;
class DisplayTab;
class DownloadTab;
class EventPump;
class FileDialogs;
class IdleRelease;
class LineWorker;
class PalmTab;
class PhoneList;
class ResultsGrid;
class SerialPort;
class SettingsTab;

// What the window reaches the world through; main passes the real ones, tests their doubles.
struct Platform {
    SerialPort &port;
    Clock &clock;
    EventPump &pump;
    FileDialogs &dialogs;
    // Given, the line runs on a thread of its own with a port made there (and
    // that thread's clock and event pump); otherwise on the window's thread over
    // `port`, `clock` and `pump`, as tests on virtual time need.
    std::function<std::unique_ptr<SerialPort>()> makePort = {};
};

// The program's one window: its tabs, the menu, and the settings kept across runs.
class MainWindow : public QMainWindow, private LinkObserver {
    Q_OBJECT
public:
    // Everything in `programDir`, as a portable installation keeps it.
    MainWindow(const QString &programDir, Platform platform, QWidget *parent = nullptr);
    MainWindow(const FileLocations &locations, Platform platform, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Start-up: creates the settings file when missing, then applies it.
    void load();
    void applySettings(const Settings &settings);
    // The settings as the controls hold them now.
    Settings settings() const;

    // Ends the process after "E&xit" has saved; tests replace it.
    void setExitHandler(std::function<void()> handler) { exitHandler_ = std::move(handler); }
    // Asks whether to stop the running operation so the program can end; tests replace it.
    void setStopQuestion(std::function<bool()> ask) { askToStop_ = std::move(ask); }

    DownloadTab &downloadTab() { return *downloadTab_; }
    ResultsGrid &results() { return *results_; }
    GridState &gridState() { return gridState_; }
    PhoneList &phoneList();
    // Every frame on the link since start-up, the last 20,000.
    FrameMonitor &monitor() { return monitor_; }
    LineWorker &line() { return *line_; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void onExitTriggered();
    void showAbout();
    void showHelp();
    void onTabChanged(int index);
    void copyLinkSettings();
    void saveSettingsOnce();
    // True when the program may end now; otherwise the running operation was
    // asked to stop (if the user agreed) and the end follows when it has.
    bool readyToExit();
    void onOperationRunningChanged(bool running);
    // Saves the settings once, stops the display polls and lets the port go.
    void releaseForExit();
    void exitNow();
    void showLinkState();
    // Shows `reason` with the time of day, or clears both when it is empty.
    void showLastError(const QString &reason);

    // LinkObserver: every frame goes to the monitor; failures also to the status bar.
    void requestSent(const QByteArray &frame, bool resend) override;
    void replyRead(const QByteArray &frame, bool crcOk) override;
    void exchangeFailed(const QByteArray &request, const LinkFailure &failure) override;

    FileLocations locations_;
    SettingsFile settingsFile_;
    std::unique_ptr<LineWorker> line_;
    FrameMonitor monitor_;
    Clock &clock_;
    GridState gridState_;
    ResultsGrid *results_ = nullptr;
    QTabWidget *tabs_ = nullptr;
    DownloadTab *downloadTab_ = nullptr;
    SettingsTab *settingsTab_ = nullptr;
    DisplayTab *displayTab_ = nullptr;
    DialerTab *dialerTab_ = nullptr;
    PalmTab *palmTab_ = nullptr;
    IdleRelease *idleRelease_ = nullptr;
    const QWidget *currentTab_ = nullptr;
    bool settingsSaved_ = false;
    std::function<void()> exitHandler_;
    std::function<bool()> askToStop_;
    bool exitPending_ = false;
    QLabel *linkState_ = nullptr;
    QLabel *lastError_ = nullptr;
    QLabel *lastErrorTime_ = nullptr;
};

} // namespace ostrand

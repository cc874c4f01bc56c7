#pragma once

#include "app/settings_file.h"
#include "download/grid_state.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "platform/file_locations.h"

#include <QMainWindow>
#include <functional>

class QTabWidget;

namespace ostrand {

class Clock;
class DialerTab;
class DisplayTab;
class DownloadTab;
class EventPump;
class FileDialogs;
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
};

// The program's one window: its tabs, the menu, and the settings kept across runs.
class MainWindow : public QMainWindow {
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

    DownloadTab &downloadTab() { return *downloadTab_; }
    ResultsGrid &results() { return *results_; }
    GridState &gridState() { return gridState_; }
    PhoneList &phoneList();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void onExitTriggered();
    void showAbout();
    void showHelp();
    void onTabChanged(int index);
    void copyLinkSettings();
    void saveSettingsOnce();

    FileLocations locations_;
    SettingsFile settingsFile_;
    SerialLink serial_;
    MeterLink link_;
    GridState gridState_;
    ResultsGrid *results_ = nullptr;
    QTabWidget *tabs_ = nullptr;
    DownloadTab *downloadTab_ = nullptr;
    SettingsTab *settingsTab_ = nullptr;
    DisplayTab *displayTab_ = nullptr;
    DialerTab *dialerTab_ = nullptr;
    PalmTab *palmTab_ = nullptr;
    int currentTab_ = 0;
    bool settingsSaved_ = false;
    std::function<void()> exitHandler_;
};

} // namespace ostrand

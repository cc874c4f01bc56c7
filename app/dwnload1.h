#pragma once

#include "app/settings_file.h"
#include "download/grid_state.h"
#include "link/meter_link.h"
#include "link/modem_dialer.h"
#include "link/serial_link.h"
#include "platform/shared_state.h"

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;
class QTimer;

namespace ostrand {

class Clock;
class EventPump;
class FileDialogs;
class PhoneList;
class ResultsGrid;
class SerialPort;

// What the window reaches the world through; main passes the real ones, tests their doubles.
struct Platform {
    SerialPort &port;
    Clock &clock;
    EventPump &pump;
    FileDialogs &dialogs;
};

// The program's one window. Its handlers carry the names the operators'
// manuals and the older tools used, and only turn clicks into calls and
// results into control states.
class DwnLoad1 : public QMainWindow, private SettingsTarget {
    Q_OBJECT
public:
    DwnLoad1(const QString &programDir, Platform platform, QWidget *parent = nullptr);
    ~DwnLoad1() override;

    SharedState &shared() { return shared_; }
    const SharedState &shared() const { return shared_; }
    ResultsGrid &results() { return *results_; }
    PhoneList &phoneList() { return *phoneList_; }
    const SettingsFile &settingsFile() const { return settings_; }
    MeterLink &meterLink() { return link_; }
    GridState &gridState() { return gridState_; }
    bool downloadRunning() const { return downloadRunning_; }

    // Ends the process after "E&xit" has saved; tests replace it.
    void setExitHandler(std::function<void()> handler) { exitHandler_ = std::move(handler); }

    // Start-up: creates the settings file when missing, then loads it.
    void Form_Load();
    // Window close: saves the settings (once per run).
    void Form_Unload();
    // "E&xit": saves the settings, then ends the process without the close path.
    void File_mnu_Click();

    void Option1_Click(int index);
    void Option2_Click(int index);
    void Option4_Click(int index);
    void Option5_Click(int index);
    void Text1_Change();
    void Text2_Change();
    void Text5_Change(int index);
    void Check1_Click();
    void Check2_Click();
    // "Download Data": the whole log (or, in Palm mode, the handheld's file).
    void Command2_Click();
    // "Since Last Time": the records logged after the last confirmed download.
    void Command7_Click();
    // "Begin": starts the poll of the selected meter type.
    void Command9_Click();
    // A keypad button: its code joins the keys waiting for the meter.
    void Command1_Click(int index);
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    // "Get ID List...": the meter IDs found in the handheld's file.
    void Command6_Click();
    // "Dial this Number": dials the number in the phone box.
    void Command4_Click();
    // "Hangup": ends the call (or a dial still waiting) and closes the port.
    void Command5_Click();
    void Command3_Click();
    void Command8_Click();
    void MSHFlexGrid2_Click();
    // The tab control reports the tab that was left.
    void SSTab1_Click(int previousTab);

    // The selected element of an option group, -1 for none.
    int selectedIndex(QButtonGroup *group) const;
    // A unit list's position: its selected entry, -1 when its text names none.
    int listPosition(const QComboBox *combo) const;
    SettingsSnapshot snapshot() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenu();
    QWidget *buildDownloadTab();
    QWidget *buildViewTab();
    QWidget *buildSettingsTab();
    QWidget *buildDisplayTab();
    QWidget *buildDialerTab();
    QWidget *buildPalmTab();
    void saveSettingsOnce();
    void selectOption(QButtonGroup *group, int index);
    QComboBox *unitList(int combo) const;
    void applyPhoneColumnWidths();
    void showPhoneCurrentCell(int row, int col);
    void describePortDevices();
    void applyResultColumnWidths();
    void runSerialDownload(bool sinceLastTime);
    class DownloadDisplayAdapter;
    class DisplayTabView;
    class PalmControls;
    int selectedMeterType() const;

    // SettingsTarget
    void setCommPortNumber(qint16 value) override;
    void selectPortOption(int index) override;
    void setBaudRateText(const QString &text) override;
    void selectBaudOption(int index) override;
    void setSlaveIdText(const QString &text) override;
    void setSlaveIdFromText(const QString &text) override;
    void setDownloadFileName(const QString &name) override;
    void setDownloadFileText(const QString &text) override;
    void setPalmDatabasePath(const QString &path) override;
    void setPalmPathText(const QString &text) override;
    void setPalmCheckState(int state) override;
    void setPalmIdListVisible(bool visible) override;
    void selectSeparationOption(int index) override;
    void setUpPhoneListHeadings() override;
    void setPhoneListCell(int row, int col, const QString &text) override;
    void selectMeterTypeOption(int index) override;
    bool setUnitListPosition(int combo, int position) override;
    void selectFirstPhoneEntry() override;

    Platform platform_;
    SharedState shared_;
    SettingsFile settings_;
    QString programDir_;
    SerialLink serial_;
    MeterLink link_;
    ModemDialer dialer_;
    std::unique_ptr<DisplayTabView> displayView_;
    std::unique_ptr<class DisplayPoller> poller_;
    std::unique_ptr<class PalmImport> palm_;
    std::unique_ptr<PalmControls> palmControls_;
    class MonitorView *monitorView_ = nullptr;
    class LogChartView *chartView_ = nullptr;
    GridState gridState_;
    bool SinceLastTimeMode = false;
    bool PortableMeter = false;
    bool downloadRunning_ = false;
    bool settingsSaved_ = false;
    std::function<void()> exitHandler_;
    int currentTab_ = 3;

    ResultsGrid *results_ = nullptr;
    PhoneList *phoneList_ = nullptr;

    QAction *File_mnu = nullptr;
    QTabWidget *SSTab1 = nullptr;

    // "Download"
    QGroupBox *Frame7 = nullptr;
    QCheckBox *Check2 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command2 = nullptr;
    QCheckBox *Check1 = nullptr;
    QPushButton *Command6 = nullptr;
    QComboBox *SortList = nullptr;
    QLabel *Label9 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *Label4 = nullptr;
    QGroupBox *Frame6 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QPushButton *Command3 = nullptr;
    QGroupBox *Frame5 = nullptr;
    QGroupBox *Frame4 = nullptr;
    std::array<QLabel *, 10> Label3{};
    std::array<QLineEdit *, 10> Text3{};

    // "View"
    QTableView *MSHFlexGrid1 = nullptr;

    // "Settings"
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    std::array<QRadioButton *, 7> Option1{};
    std::array<QRadioButton *, 4> Option2{};
    std::array<QRadioButton *, 2> Option3{};
    QButtonGroup *option1Group_ = nullptr;
    QButtonGroup *option2Group_ = nullptr;
    QButtonGroup *option3Group_ = nullptr;

    // "Display Meter"
    QGroupBox *Frame10 = nullptr;
    std::array<QRadioButton *, 4> Option5{};
    QButtonGroup *option5Group_ = nullptr;
    QPushButton *Command9 = nullptr;
    QGroupBox *Frame11 = nullptr;
    std::array<QPushButton *, 16> Command1{};
    QGroupBox *Frame8 = nullptr;
    std::array<QLineEdit *, 5> Text4{};
    QLabel *Label10 = nullptr;
    QGroupBox *Frame12 = nullptr;
    QGroupBox *Frame13 = nullptr;
    QGroupBox *Frame14 = nullptr;
    QGroupBox *Frame15 = nullptr;
    QComboBox *Combo1 = nullptr;
    QComboBox *Combo2 = nullptr;
    QComboBox *Combo3 = nullptr;
    QComboBox *Combo4 = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer3 = nullptr;

    // "Dialer"
    QLabel *Label7 = nullptr;
    QTableView *MSHFlexGrid2 = nullptr;
    std::array<QLineEdit *, 2> Text5{};
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;

    // "Palm DataBase"
    QGroupBox *Frame9 = nullptr;
    std::array<QRadioButton *, 3> Option4{}; // element 1 does not exist
    QButtonGroup *option4Group_ = nullptr;
    QPushButton *Command8 = nullptr;
    QLineEdit *Text6 = nullptr;
    QLabel *Label8 = nullptr;
};

} // namespace ostrand

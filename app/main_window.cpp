#include "main_window.h"

#include "app/dialer_tab.h"
#include "app/display_tab.h"
#include "app/download_tab.h"
#include "app/monitor_tab.h"
#include "app/palm_tab.h"
#include "app/settings_tab.h"
#include "app/tab_widgets.h"
#include "app/view_tab.h"
#include "download/results_grid.h"
#include "ostrand_version.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>

namespace ostrand {
namespace {

constexpr int kSettingsTab = 2;
constexpr int kDisplayTab = 3;

} // namespace

MainWindow::MainWindow(const QString &programDir, Platform platform, QWidget *parent)
    : MainWindow(portableLocations(programDir), platform, parent)
{
}

MainWindow::MainWindow(const FileLocations &locations, Platform platform, QWidget *parent)
    : QMainWindow(parent), locations_(locations), settingsFile_(locations.settingsDir),
      serial_(platform.port, platform.clock, platform.pump), link_(serial_)
{
    setObjectName(QStringLiteral("DwnLoad1"));
    setWindowTitle(QStringLiteral("Ostrand Download Revision " OSTRAND_VERSION));
    exitHandler_ = [] { QCoreApplication::exit(0); };

    auto *exitAction =
        named(new QAction(QStringLiteral("E&xit"), this), QStringLiteral("File_mnu"));
    menuBar()->addAction(exitAction);
    connect(exitAction, &QAction::triggered, this, &MainWindow::onExitTriggered);
    auto *aboutAction =
        named(new QAction(QStringLiteral("&About"), this), QStringLiteral("About_mnu"));
    menuBar()->addAction(aboutAction);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::showAbout);

    results_ = new ResultsGrid(ResultsGrid::kDefaultRows, ResultsGrid::kDefaultCols, this);
    settingsTab_ = new SettingsTab(locations.comLinkDirs(), link_);
    palmTab_ = new PalmTab(platform.dialogs);
    downloadTab_ = new DownloadTab({locations.dataDir, link_, *results_, gridState_, *settingsTab_,
                                    *palmTab_, platform.dialogs, platform.pump, platform.clock});
    auto *viewTab = new ViewTab(*results_, gridState_, platform.dialogs);
    displayTab_ = new DisplayTab(link_);
    dialerTab_ = new DialerTab(link_, platform.pump);
    connect(settingsTab_, &SettingsTab::linkSettingsChanged, this, &MainWindow::copyLinkSettings);
    connect(palmTab_, &PalmTab::separationChanged, downloadTab_, &DownloadTab::showSeparation);
    connect(downloadTab_, &DownloadTab::resultsChanged, viewTab, &ViewTab::refreshChartIfShown);
    connect(downloadTab_, &DownloadTab::detailShown, this,
            [this](const QString &text) { statusBar()->showMessage(text); });

    tabs_ = named(new QTabWidget, QStringLiteral("SSTab1"));
    tabs_->addTab(downloadTab_, QStringLiteral("Download"));
    tabs_->addTab(viewTab, QStringLiteral("View"));
    tabs_->addTab(settingsTab_, QStringLiteral("Settings"));
    tabs_->addTab(displayTab_, QStringLiteral("Display Meter"));
    tabs_->addTab(dialerTab_, QStringLiteral("Dialer"));
    tabs_->addTab(palmTab_, QStringLiteral("Palm DataBase"));
    // After the six tabs the operators know.
    tabs_->addTab(new MonitorTab(link_, platform.clock, platform.dialogs),
                  QStringLiteral("Monitor"));
    tabs_->setCurrentIndex(kDisplayTab);
    currentTab_ = kDisplayTab;
    connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    setCentralWidget(tabs_);

    // 10950 by 8070 twips, the size operators are used to.
    resize(10950 / kTwipsPerPixel, 8070 / kTwipsPerPixel);
}

MainWindow::~MainWindow()
{
    // The tabs watch and use the link, which goes before the child widgets would.
    delete tabs_;
}

PhoneList &MainWindow::phoneList()
{
    return dialerTab_->phoneList();
}

void MainWindow::copyLinkSettings()
{
    // The Settings tab is the link's only source of where the meter is.
    serial_.setSettings({settingsTab_->portNumber(), settingsTab_->baudRateText(), settingsTab_->slaveId(),
                         settingsTab_->replyTimeoutMs()});
}

void MainWindow::onTabChanged(int index)
{
    const int left = currentTab_;
    currentTab_ = index;
    if (left == kDisplayTab)
        displayTab_->leave();
    if (index == kSettingsTab)
        settingsTab_->describePortDevices();
}

void MainWindow::load()
{
    if (!settingsFile_.exists())
        settingsFile_.createDefault();
    if (const auto settings = settingsFile_.load())
        applySettings(*settings);
    settingsTab_->useReplyTimeFile(QDir(locations_.settingsDir).filePath(kReplyTimeFileName));
}

void MainWindow::applySettings(const Settings &settings)
{
    settingsTab_->apply(settings);
    downloadTab_->apply(settings);
    palmTab_->apply(settings);
    dialerTab_->apply(settings);
    displayTab_->apply(settings);
}

Settings MainWindow::settings() const
{
    Settings settings;
    settingsTab_->store(settings);
    downloadTab_->store(settings);
    palmTab_->store(settings);
    dialerTab_->store(settings);
    displayTab_->store(settings);
    return settings;
}

void MainWindow::saveSettingsOnce()
{
    // Both exit paths may run in one shutdown (menu, then the window going away).
    if (settingsSaved_)
        return;
    settingsSaved_ = true;
    settingsFile_.save(settings());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    saveSettingsOnce();
    event->accept();
}

void MainWindow::showAbout()
{
    const QString where = locations_.portable
                              ? QStringLiteral("beside the program (portable)")
                              : QStringLiteral("in your configuration folder");
    const QString text =
        QStringLiteral("Ostrand Download %1\n\nQt %2 (built with %3)\nMIT License\n\n"
                       "Settings (%4) and COM1 to COM4 links are kept %5:\n%6")
            .arg(QStringLiteral(OSTRAND_VERSION), QString::fromLatin1(qVersion()),
                 QStringLiteral(QT_VERSION_STR), kSettingsFileName, where,
                 QDir::toNativeSeparators(locations_.settingsDir));
    QMessageBox::about(this, QStringLiteral("About Ostrand Download"), text);
}

void MainWindow::onExitTriggered()
{
    // Saves, then ends the process without the close path.
    saveSettingsOnce();
    hide();
    if (exitHandler_)
        exitHandler_();
}

} // namespace ostrand

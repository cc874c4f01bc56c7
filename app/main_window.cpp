#include "main_window.h"

#include "app/dialer_tab.h"
#include "app/download_widgets.h"
#include "app/idle_release.h"
#include "app/line_worker.h"
#include "app/display_tab.h"
#include "app/download_tab.h"
#include "app/monitor_tab.h"
#include "app/palm_tab.h"
#include "app/settings_tab.h"
#include "app/tab_widgets.h"
#include "app/view_tab.h"
#include "table/results_grid.h"
#include "ostrand_version.h"
#include "platform/clock.h"
#include "platform/com_port_names.h"
#include "platform/network_endpoint.h"
#include "platform/serial_port.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTime>
#include <QTimer>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>

namespace ostrand {
namespace {

// What a technician needs at the meter, without the manual.
const char kHelpPage[] = R"(<h3>Ostrand Download</h3>
<p><b>Connect.</b> On <i>Settings</i> choose the Comm port, the baud rate and the meter's
Slave ID (Alt+underlined letter or digit selects an option); what you type is taken at Enter
or when you move on. A meter behind a device server: type its host:port in the box under the
Comm ports, press Enter, then choose <i>Network</i>. A 2-wire RS-485 adapter that returns what it
sends needs <i>Adapter echoes</i>; a device that needs a pause between requests, a <i>Request
gap</i>. <i>Let the port go when idle</i> closes the port 5 s after each operation, so other
programs can use the meter meanwhile.</p>
<p><b>Download.</b> On <i>Download</i>, <i>Download Data</i> reads the whole log,
<i>Since Last Time</i> only what was logged after the last stored download; when the file
already holds data it asks whether to append the new rows, replace the file or cancel. The rows
go to the file shown under <i>DownLoad Filename</i> (<i>Change Filename</i> picks another);
once it is written, <i>Show in folder</i> opens its folder (or <i>Copy path</i> copies its path).</p>
<p><b>Look at the data.</b> <i>View</i> shows the grid; <i>Show Chart</i> plots it. Drag to
zoom, click a legend entry to hide or show its channel, point at a line to read a value.</p>
<p><b>Live display.</b> On <i>Display Meter</i> pick the meter type and press <i>Begin</i>.
For the 7700 Series the keyboard presses the meter's keys: the digits and '.', PgUp or Up for
Up/Next, PgDown, Down or Backspace for Down, M for Menu, Return or Enter for Enter, N for 2nd
(each key's tooltip names them). "No reply from meter" and dimmed values mean the meter has
not answered for a few seconds: check the cable, the port and the Slave ID.</p>
<p><b>Palm handheld.</b> Tick <i>Use Palm DataBase</i> on <i>Download</i> and choose the
PLOGR2.PDB file on <i>Palm DataBase</i>.</p>
<p><b>Trouble.</b> <i>Monitor</i> lists every frame sent and received; save it as text
for support.</p>)";

} // namespace

MainWindow::MainWindow(const QString &programDir, Platform platform, QWidget *parent)
    : MainWindow(portableLocations(programDir), platform, parent)
{
}

MainWindow::MainWindow(const FileLocations &locations, Platform platform, QWidget *parent)
    : QMainWindow(parent), locations_(locations), settingsFile_(locations.settingsDir),
      line_(platform.makePort ? std::make_unique<LineWorker>(platform.makePort)
                              : std::make_unique<LineWorker>(platform.port, platform.clock, platform.pump)),
      monitor_(platform.clock), clock_(platform.clock)
{
    // Recording from the start: the frames of a failure are there when someone looks.
    line_->setObserver(this);
    connect(line_.get(), &LineWorker::stateChanged, this, &MainWindow::showLinkState);
    setObjectName(QStringLiteral("DwnLoad1"));
    setWindowTitle(QStringLiteral("Ostrand Download Revision " OSTRAND_VERSION));
    exitHandler_ = [] { QCoreApplication::exit(0); };
    askToStop_ = [this] {
        return QMessageBox::question(this, QStringLiteral("Exit"),
                                     QStringLiteral("An operation is running. Stop it and exit?"))
               == QMessageBox::Yes;
    };

    auto *exitAction =
        named(new QAction(QStringLiteral("E&xit"), this), QStringLiteral("File_mnu"));
    menuBar()->addAction(exitAction);
    connect(exitAction, &QAction::triggered, this, &MainWindow::onExitTriggered);
    auto *aboutAction =
        named(new QAction(QStringLiteral("&About"), this), QStringLiteral("About_mnu"));
    menuBar()->addAction(aboutAction);
    connect(aboutAction, &QAction::triggered, this, &MainWindow::showAbout);
    auto *helpAction =
        named(new QAction(QStringLiteral("&Help"), this), QStringLiteral("Help_mnu"));
    helpAction->setShortcut(QKeySequence::HelpContents);
    menuBar()->addAction(helpAction);
    connect(helpAction, &QAction::triggered, this, &MainWindow::showHelp);

    results_ = new ResultsGrid(ResultsGrid::kDefaultRows, ResultsGrid::kDefaultCols, this);
    settingsTab_ = new SettingsTab(locations.comLinkDirs(), *line_);
    palmTab_ = new PalmTab(platform.dialogs);
    downloadTab_ = new DownloadTab(
        {locations.dataDir, *line_, *results_, gridState_,
         [this]() -> std::optional<int> {
             return settingsTab_->slaveIdValid() ? std::optional<int>(settingsTab_->slaveId()) : std::nullopt;
         },
         [this] { return palmTab_->databasePath(); }, [this] { return palmTab_->separateByMeterId(); },
         platform.dialogs});
    auto *viewTab = new ViewTab(*results_, gridState_, platform.dialogs);
    viewTab->useSurveySettingsFile(QDir(locations.settingsDir).filePath(kReplyTimeFileName));
    displayTab_ = new DisplayTab(*line_, platform.clock);
    dialerTab_ = new DialerTab(*line_);
    connect(settingsTab_, &SettingsTab::linkSettingsChanged, this, &MainWindow::copyLinkSettings);
    idleRelease_ = new IdleRelease(*line_, platform.clock, this);
    connect(settingsTab_, &SettingsTab::releaseWhenIdleChanged, idleRelease_, &IdleRelease::setEnabled);
    connect(palmTab_, &PalmTab::separationChanged, downloadTab_, &DownloadTab::showSeparation);
    connect(downloadTab_, &DownloadTab::resultsChanged, viewTab, &ViewTab::refreshChartIfShown);
    connect(downloadTab_, &DownloadTab::detailShown, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    connect(displayTab_, &DisplayTab::noticeShown, this,
            [this](const QString &text) { statusBar()->showMessage(text); });
    // Another attempt's failure would read as this one's for all its length.
    connect(downloadTab_, &DownloadTab::attemptStarted, this, [this] {
        statusBar()->clearMessage();
        showLastError(QString());
    });
    connect(downloadTab_, &DownloadTab::operationRunningChanged, this,
            &MainWindow::onOperationRunningChanged);

    tabs_ = named(new QTabWidget, QStringLiteral("SSTab1"));
    tabs_->addTab(downloadTab_, QStringLiteral("Download"));
    tabs_->addTab(viewTab, QStringLiteral("View"));
    tabs_->addTab(settingsTab_, QStringLiteral("Settings"));
    tabs_->addTab(displayTab_, QStringLiteral("Display Meter"));
    tabs_->addTab(dialerTab_, QStringLiteral("Dialer"));
    tabs_->addTab(palmTab_, QStringLiteral("Palm DataBase"));
    // After the six tabs the operators know.
    tabs_->addTab(new MonitorTab(monitor_, platform.dialogs),
                  QStringLiteral("Monitor"));
    tabs_->setCurrentWidget(displayTab_);
    currentTab_ = displayTab_;
    connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    setCentralWidget(tabs_);

    linkState_ = named(new QLabel, QStringLiteral("LinkState"));
    // A long reason is shortened in its middle, whole in its tooltip, rather than cut off.
    lastError_ = named(new ElidedLabel, QStringLiteral("LastError"));
    // When it happened, read before it, as a log line reads.
    lastErrorTime_ = named(new QLabel, QStringLiteral("LastErrorTime"));
    statusBar()->addPermanentWidget(lastErrorTime_);
    statusBar()->addPermanentWidget(lastError_, 1);
    statusBar()->addPermanentWidget(linkState_);
    // A message is drawn in the room left of the first permanent label, which the
    // stretching last error takes whole: while a message is up, the error gives way.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString &message) {
        lastErrorTime_->setVisible(message.isEmpty());
        lastError_->setVisible(message.isEmpty());
    });
    // The link does not announce a hang-up or an adapter going away; a glance a second does.
    auto *stateTimer = named(new QTimer(this), QStringLiteral("LinkStateTimer"));
    connect(stateTimer, &QTimer::timeout, this, [this] {
        line_->refreshState();
        showLinkState();
    });
    stateTimer->start(1000);
    showLinkState();

    // 10950 by 8070 twips, the size operators are used to.
    resize(10950 / kTwipsPerPixel, 8070 / kTwipsPerPixel);
    // No fixed minimum: the layouts keep the window at least as large as the
    // controls shown need, growing it when a mode shows more of them.
}

MainWindow::~MainWindow()
{
    line_->setObserver(nullptr);
    line_->shutDown();
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
    LinkSettings settings{settingsTab_->portNumber(), settingsTab_->baudRateText(), settingsTab_->slaveId(),
                          settingsTab_->replyTimeoutMs()};
    settings.networkAddress = settingsTab_->networkAddress();
    settings.requestGapMs = settingsTab_->requestGapMs();
    settings.echo = settingsTab_->echo();
    line_->setSettings(settings);
    showLinkState();
}

void MainWindow::showLinkState()
{
    const LinkSettings link = line_->settings();
    const LineState line = line_->state();
    const QStringList dirs = locations_.comLinkDirs();
    const QString chosenDevice = link.networkAddress.isEmpty() ? resolveComDevice(dirs, link.portNumber) : QString();
    // Whether the open port is the one the next exchange uses: another port,
    // speed or device chosen since is opened in its place.
    const bool openIsChosen =
        line.open
        && (namesNetworkAddress(line.device)
                ? line.device == link.networkAddress
                : link.networkAddress.isEmpty() && line.portNumber == link.portNumber && line.baudRate == link.baudRate
                      && !chosenDevice.isEmpty()
                      && (line.device.isEmpty() || QFileInfo(chosenDevice).canonicalFilePath() == line.device));
    // A running operation keeps the port it began on; otherwise the next exchange uses the choice.
    const bool showOpen = line.open && (line.busy || (openIsChosen && !line.lost));
    const QString address = showOpen ? (namesNetworkAddress(line.device) ? line.device : QString())
                                     : link.networkAddress;
    const int portNumber = showOpen ? line.portNumber : link.portNumber;
    QString device = showOpen ? line.device : QString();
    if (device.isEmpty())
        device = resolveComDevice(dirs, portNumber);
    if (device.isEmpty()) {
        const QString gone = vanishedComLink(dirs, portNumber);
        device = gone.isEmpty() ? QStringLiteral("no device") : QStringLiteral("link to %1 gone").arg(gone);
    }
    const bool network = !address.isEmpty();
    QString state = network ? QStringLiteral("not connected") : QStringLiteral("not open");
    if (line.busy)
        state = QStringLiteral("busy");
    else if (openIsChosen && line.lost)
        state = network ? QStringLiteral("connection lost") : QStringLiteral("line lost");
    else if (showOpen && line.modemCall)
        state = QStringLiteral("connected by modem: Hangup on the Dialer ends the call");
    else if (showOpen)
        state = network ? QStringLiteral("connected") : QStringLiteral("open");
    // A device server is named by its address, open or next, as every message
    // names it; raw TCP carries no baud rate of its own to show.
    const QString where = network ? QStringLiteral("Network %1").arg(address)
                                  : QStringLiteral("COM%1 (%2)").arg(portNumber).arg(device);
    const QString baud = address.startsWith(QLatin1String("tcp://"))
                             ? QString()
                             : QStringLiteral("%1 baud · ").arg(showOpen ? line.baudRate : link.baudRate);
    const QString text = QStringLiteral("%1 · %2address %3 · %4")
                             .arg(where, baud)
                             .arg(link.slave)
                             .arg(state);
    if (linkState_->text() != text)
        linkState_->setText(text);
}

void MainWindow::requestSent(const QByteArray &frame, bool resend)
{
    monitor_.requestSent(frame, resend);
    showLinkState();
}

void MainWindow::replyRead(const QByteArray &frame, bool crcOk)
{
    monitor_.replyRead(frame, crcOk);
    // A reply the meter got through means the line works again; a refusal in
    // it is reported as a failure right after.
    if (crcOk)
        showLastError(QString());
}

void MainWindow::exchangeFailed(const QByteArray &request, const LinkFailure &failure)
{
    monitor_.exchangeFailed(request, failure);
    showLastError(failureText(failure));
    showLinkState();
}

void MainWindow::showLastError(const QString &reason)
{
    if (reason.isEmpty()) {
        if (lastError_->text().isEmpty())
            return; // every good reply comes here: nothing to repaint
        lastError_->clear();
        lastError_->setToolTip(QString());
        lastErrorTime_->clear();
        return;
    }
    lastError_->setText(QStringLiteral("Last error: %1").arg(reason));
    lastError_->setToolTip(reason);
    const int msOfDay = static_cast<int>(clock_.secondsSinceMidnight() * 1000.0);
    lastErrorTime_->setText(QTime::fromMSecsSinceStartOfDay(msOfDay).toString(QStringLiteral("HH:mm:ss")));
}

void MainWindow::onTabChanged(int index)
{
    const QWidget *left = currentTab_;
    currentTab_ = tabs_->widget(index);
    if (left == displayTab_)
        displayTab_->leave();
    if (currentTab_ == settingsTab_)
        settingsTab_->describePortDevices();
}

void MainWindow::load()
{
    if (!settingsFile_.exists())
        settingsFile_.createDefault();
    if (const auto settings = settingsFile_.load())
        applySettings(*settings);
    // A damaged or unusable settings file is said where the user looks, with what was kept.
    QStringList notices = {settingsFile_.notice()};
    notices << settingsTab_->useLinkOptionsFile(
        QDir(locations_.settingsDir).filePath(kReplyTimeFileName));
    notices.removeAll(QString());
    if (!notices.isEmpty())
        statusBar()->showMessage(notices.join(QStringLiteral("; ")));
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

bool MainWindow::readyToExit()
{
    if (!downloadTab_->operationRunning())
        return true;
    if (exitPending_ || !askToStop_())
        return false;
    exitPending_ = true;
    // The exchange that waits now ends at once instead of at its time-out.
    downloadTab_->requestStop();
    hide();
    return false;
}

void MainWindow::onOperationRunningChanged(bool running)
{
    // The dialer and the Palm settings share the link or the grid with the operation.
    dialerTab_->setEnabled(!running);
    palmTab_->setEnabled(!running);
    showLinkState();
    if (!running && exitPending_)
        exitNow();
}

void MainWindow::releaseForExit()
{
    saveSettingsOnce();
    displayTab_->stopPolling();
    line_->shutDown();
}

void MainWindow::exitNow()
{
    releaseForExit();
    hide();
    if (exitHandler_)
        exitHandler_();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!readyToExit()) {
        event->ignore();
        return;
    }
    releaseForExit();
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

void MainWindow::showHelp()
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Ostrand Download Help"),
                    QString::fromUtf8(kHelpPage), QMessageBox::Close, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void MainWindow::onExitTriggered()
{
    // Saves, then ends the process without the close path.
    if (readyToExit())
        exitNow();
}

} // namespace ostrand

#include "settings_tab.h"

#include "app/line_worker.h"
#include "app/network_choice.h"
#include "app/settings_file.h"
#include "app/tab_widgets.h"
#include "link/link_settings.h"
#include "link/meter_link.h"
#include "monitor/port_panel.h"
#include "platform/baud_rates.h"
#include "platform/com_port_names.h"
#include "platform/small_file.h"
#include "platform/text_value.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ostrand {
namespace {

const QString kSlaveIdNormalStyle = QStringLiteral("QLineEdit { background: #E0E0E0; }");
const QString kSlaveIdInvalidStyle = QStringLiteral("QLineEdit { background: #F4C7C3; }");
// The captions with their access keys: all digits, so each takes one no other option holds.
constexpr const char *kBaudMnemonics[] = {"12&00", "&2400", "4&800",  "9&600",
                                          "&14400", "1&9200", "&38400"};
constexpr const char *kPortMnemonics[] = {"&Comm1", "C&omm2", "Co&mm3", "Comm&4"};
// One key in one group: anything near this size is not a file this program wrote.
constexpr qint64 kMaxReplyTimeFileBytes = 16 * 1024;

// The keys of the link options' own file.
const QString kReplyTimeKey = QStringLiteral("link/replyTimeoutMs");
const QString kRequestGapKey = QStringLiteral("link/requestGapMs");
const QString kEchoKey = QStringLiteral("link/echo");
const QString kReleaseWhenIdleKey = QStringLiteral("link/releaseWhenIdle");
const QString kNetworkChosenKey = QStringLiteral("network/chosen");
const QString kNetworkAddressKey = QStringLiteral("network/address");
const QString kNetworkKindKey = QStringLiteral("network/kind");
constexpr int kNetworkOption = 4; // after COM1 to COM4 in the port group

QString replyTimeFileProblem(const QString &path)
{
    const FileCheck check = checkSmallFile(path, kMaxReplyTimeFileBytes);
    return check.state == FileState::Missing ? QString() : check.problem;
}

} // namespace

SettingsTab::SettingsTab(const QStringList &comLinkDirs, LineWorker &line, QWidget *parent)
    : QWidget(parent), comLinkDirs_(comLinkDirs), line_(line)
{
    auto *slaveLabel = named(new QLabel(QStringLiteral("Slave ID")), QStringLiteral("Label1"));
    slaveIdBox_ = named(new QLineEdit(QStringLiteral("001")), QStringLiteral("Text1"));
    slaveIdBox_->setStyleSheet(kSlaveIdNormalStyle);
    slaveIdBox_->setMaximumWidth(120);
    slaveLabel->setBuddy(slaveIdBox_);
    // Taken when typed to its end (Enter, or on to another control): the display's poll
    // must never reach a meter at an address half typed.
    connect(slaveIdBox_, &QLineEdit::editingFinished, this, &SettingsTab::onSlaveIdEdited);

    auto *replyTimeLabel = named(new QLabel(QStringLiteral("Reply time (ms)")), QStringLiteral("ReplyTimeLabel"));
    replyTimeBox_ = named(new QSpinBox, QStringLiteral("ReplyTimeout"));
    replyTimeBox_->setRange(0, 60000);
    replyTimeBox_->setSingleStep(100);
    replyTimeBox_->setSpecialValueText(QStringLiteral("the meter's own"));
    replyTimeBox_->setToolTip(QStringLiteral("For a slow line (a modem or radio path): how long a reply may "
                                             "take before the request is sent again"));
    replyTimeLabel->setBuddy(replyTimeBox_);
    // Typed digits count once the number is complete; the arrows count at once.
    replyTimeBox_->setKeyboardTracking(false);
    connect(replyTimeBox_, &QSpinBox::valueChanged, this, [this](int ms) {
        keep(kReplyTimeKey, ms);
        emit linkSettingsChanged();
    });

    auto *requestGapLabel = named(new QLabel(QStringLiteral("Request gap (ms)")), QStringLiteral("RequestGapLabel"));
    requestGapBox_ = named(new QSpinBox, QStringLiteral("RequestGap"));
    requestGapBox_->setRange(0, 1000);
    requestGapBox_->setSingleStep(50);
    requestGapBox_->setSpecialValueText(QStringLiteral("none"));
    requestGapBox_->setToolTip(QStringLiteral("For a device that needs a pause between a reply and the next request"));
    requestGapLabel->setBuddy(requestGapBox_);
    requestGapBox_->setKeyboardTracking(false);
    connect(requestGapBox_, &QSpinBox::valueChanged, this, [this](int ms) {
        keep(kRequestGapKey, ms);
        emit linkSettingsChanged();
    });
    echoBox_ = named(new QCheckBox(QStringLiteral("Adapter ec&hoes (2-wire RS-485)")), QStringLiteral("Echo"));
    echoBox_->setToolTip(QStringLiteral("The adapter returns every byte sent: the request's own bytes are "
                                        "taken off the line before the reply"));
    connect(echoBox_, &QCheckBox::toggled, this, [this](bool on) {
        keep(kEchoKey, on);
        emit linkSettingsChanged();
    });
    releaseWhenIdleBox_ =
        named(new QCheckBox(QStringLiteral("&Let the port go when idle")), QStringLiteral("ReleaseWhenIdle"));
    releaseWhenIdleBox_->setToolTip(QStringLiteral("Closes the port after 5 s without an operation, so another "
                                                   "program on this computer can use the meter meanwhile; the "
                                                   "next operation opens it again. The live display and a modem "
                                                   "call keep it open."));
    connect(releaseWhenIdleBox_, &QCheckBox::toggled, this, [this](bool on) {
        keep(kReleaseWhenIdleKey, on);
        emit releaseWhenIdleChanged(on);
    });

    auto *baudFrame = groupBox(QStringLiteral("Frame1"), QStringLiteral("Baud Rate"));
    baudGroup_ = new QButtonGroup(this);
    auto *baud = new QVBoxLayout(baudFrame);
    for (int i = 0; i < int(kBaudRates.size()); ++i) {
        auto *button =
            named(new QRadioButton(QLatin1String(kBaudMnemonics[i])), elementName("Option1", i));
        baudGroup_->addButton(button, i);
        baud->addWidget(button);
    }
    baudGroup_->button(6)->setChecked(true);
    connect(baudGroup_, &QButtonGroup::idClicked, this, &SettingsTab::onBaudClicked);

    auto *portFrame = groupBox(QStringLiteral("Frame2"), QStringLiteral("Communication Port"));
    portGroup_ = new QButtonGroup(this);
    auto *ports = new QVBoxLayout(portFrame);
    for (int i = 0; i < 4; ++i) {
        portButtons_[i] =
            named(new QRadioButton(QLatin1String(kPortMnemonics[i])), elementName("Option2", i));
        portGroup_->addButton(portButtons_[i], i);
        ports->addWidget(portButtons_[i]);
    }
    portButtons_[0]->setChecked(true);
    // A meter behind a device server: chosen once its address reads.
    networkButton_ = named(new QRadioButton(QStringLiteral("N&etwork")), elementName("Option2", kNetworkOption));
    networkButton_->setEnabled(false);
    networkButton_->setToolTip(QStringLiteral("A meter behind a device server: type its host:port below to choose it"));
    portGroup_->addButton(networkButton_, kNetworkOption);
    ports->addWidget(networkButton_);
    network_ = named(new NetworkChoice, QStringLiteral("NetworkChoice"));
    ports->addWidget(network_);
    connect(network_, &NetworkChoice::urlChanged, this, &SettingsTab::onNetworkAddressChanged);
    // Clicking "Network" ends the typing, so the address is read before the choice is taken.
    connect(network_, &NetworkChoice::typed, this, [this] {
        networkButton_->setEnabled(!network_->url().isEmpty() || network_->typedTextReads());
    });
    ports->addStretch(1);
    describePortDevices();
    connect(portGroup_, &QButtonGroup::idClicked, this, &SettingsTab::onPortClicked);

    auto *flowFrame = groupBox(QStringLiteral("Frame3"), QStringLiteral("Flow Control"));
    flowGroup_ = new QButtonGroup(this);
    auto *flow = new QVBoxLayout(flowFrame);
    const QString flowCaptions[] = {QStringLiteral("&None"), QStringLiteral("Hard&ware (Cts/Rts)")};
    for (int i = 0; i < 2; ++i) {
        auto *button = named(new QRadioButton(flowCaptions[i]), elementName("Option3", i));
        flowGroup_->addButton(button, i);
        flow->addWidget(button);
    }
    flowGroup_->button(1)->setChecked(true);
    flow->addStretch(1);

    // However crowded the row, the box shows a whole address: they run to 255.
    slaveIdBox_->setMinimumWidth(slaveIdBox_->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
    auto *slave = new QHBoxLayout;
    slave->addWidget(slaveLabel);
    slave->addWidget(slaveIdBox_);
    slave->addSpacing(24);
    slave->addWidget(replyTimeLabel);
    slave->addWidget(replyTimeBox_);
    slave->addSpacing(24);
    slave->addWidget(requestGapLabel);
    slave->addWidget(requestGapBox_);
    slave->addSpacing(24);
    slave->addWidget(echoBox_);
    slave->addStretch(1);
    auto *release = new QHBoxLayout;
    release->addWidget(releaseWhenIdleBox_);
    release->addStretch(1);
    auto *groups = new QHBoxLayout;
    groups->addWidget(baudFrame);
    groups->addWidget(portFrame);
    groups->addWidget(flowFrame);
    // Which device each Comm option opens, the adapters present, and COMn pointed at one.
    auto *portPanel = named(new PortPanel(comLinkDirs_), QStringLiteral("PortPanel"));
    connect(portPanel, &PortPanel::comLinkChanged, this, [this](int) {
        describePortDevices();
        // The next operation opens the device the link now names.
        if (!line_.busy())
            line_.run([](MeterLink &link) { link.serial().closePort(); });
    });
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(slave);
    layout->addLayout(release);
    layout->addLayout(groups);
    layout->addWidget(portPanel, 1);
}

void SettingsTab::onBaudClicked(int index)
{
    if (index < 0 || index >= int(kBaudRates.size()))
        return;
    baudRateText_ = QLatin1String(kBaudRates[index]);
    emit linkSettingsChanged();
}

void SettingsTab::onPortClicked(int index)
{
    if (index == kNetworkOption) {
        networkChosen_ = true;
    } else if (index >= 0 && index < 4) {
        networkChosen_ = false;
        portNumber_ = index + 1;
        lastComIndex_ = index;
    } else {
        return;
    }
    keep(kNetworkChosenKey, networkChosen_);
    emit linkSettingsChanged();
}

void SettingsTab::onNetworkAddressChanged()
{
    networkButton_->setEnabled(!network_->url().isEmpty());
    keep(kNetworkAddressKey, network_->text());
    keep(kNetworkKindKey, network_->kind() == NetworkKind::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp"));
    if (networkChosen_)
        emit linkSettingsChanged();
}

QString SettingsTab::networkAddress() const
{
    return networkChosen_ ? network_->url() : QString();
}

int SettingsTab::requestGapMs() const
{
    return requestGapBox_->value();
}

bool SettingsTab::echo() const
{
    return echoBox_->isChecked();
}

bool SettingsTab::releaseWhenIdle() const
{
    return releaseWhenIdleBox_->isChecked();
}

void SettingsTab::keep(const QString &key, const QVariant &value)
{
    // Writing reads the file first: a pipe put there since start-up would hold the window.
    if (!linkOptionsFile_.isEmpty() && replyTimeFileProblem(linkOptionsFile_).isEmpty())
        QSettings(linkOptionsFile_, QSettings::IniFormat).setValue(key, value);
}

void SettingsTab::onSlaveIdEdited()
{
    // An address a meter cannot have is not used: keep the last good one and
    // show the box as wrong; a download refuses to start until it is put right.
    const auto value = leadingNumberAsInt16(slaveIdBox_->text());
    slaveIdValid_ = value && LinkSettings::isValidSlave(*value);
    if (slaveIdValid_) {
        slaveId_ = *value;
        slaveIdBox_->setStyleSheet(kSlaveIdNormalStyle);
        slaveIdBox_->setToolTip(QString());
    } else {
        slaveIdBox_->setStyleSheet(kSlaveIdInvalidStyle);
        slaveIdBox_->setToolTip(
            QStringLiteral("Slave ID out of range: still using %1").arg(slaveId_));
    }
    slaveIdBox_->setProperty("invalid", !slaveIdValid_);
    emit linkSettingsChanged();
}

int SettingsTab::replyTimeoutMs() const
{
    return replyTimeBox_->value();
}

QString SettingsTab::useLinkOptionsFile(const QString &path)
{
    linkOptionsFile_.clear(); // reading it is no change to write back
    if (const QString problem = replyTimeFileProblem(path); !problem.isEmpty())
        return problem + QStringLiteral(": the line options were not read from it and will not be kept");
    const QSettings file(path, QSettings::IniFormat);
    const int replyMs = file.value(kReplyTimeKey, 0).toInt();
    replyTimeBox_->setValue(LinkSettings::isValidReplyTimeout(replyMs) ? replyMs : 0);
    const int gapMs = file.value(kRequestGapKey, 0).toInt();
    requestGapBox_->setValue(LinkSettings::isValidRequestGap(gapMs) ? gapMs : 0);
    echoBox_->setChecked(file.value(kEchoKey, false).toBool());
    releaseWhenIdleBox_->setChecked(file.value(kReleaseWhenIdleKey, false).toBool());
    network_->restore(file.value(kNetworkAddressKey).toString(),
                      file.value(kNetworkKindKey).toString() == QLatin1String("rfc2217") ? NetworkKind::Rfc2217
                                                                                          : NetworkKind::RawTcp);
    // An address that no longer reads leaves the COM port chosen.
    if (file.value(kNetworkChosenKey, false).toBool() && !network_->url().isEmpty()) {
        networkButton_->setChecked(true);
        onPortClicked(kNetworkOption);
    }
    linkOptionsFile_ = path;
    return {};
}

void SettingsTab::describePortDevices()
{
    for (int i = 0; i < 4; ++i)
        portButtons_[i]->setToolTip(describeComDevice(comLinkDirs_, i + 1));
}

void SettingsTab::apply(const Settings &settings)
{
    if (settings.portIndex && *settings.portIndex < 4) {
        selectOption(portGroup_, *settings.portIndex);
        onPortClicked(*settings.portIndex);
    }
    if (settings.baudIndex) {
        selectOption(baudGroup_, *settings.baudIndex);
        onBaudClicked(*settings.baudIndex);
    }
    if (settings.slaveIdText) {
        slaveIdBox_->setText(*settings.slaveIdText);
        // The same text as before raises no change, and must still be taken up.
        onSlaveIdEdited();
    }
}

void SettingsTab::store(Settings &settings) const
{
    // Other installations read the file: its port line never names the network.
    settings.portIndex = networkChosen_ ? std::optional<int>(lastComIndex_) : checkedOption(portGroup_);
    settings.baudIndex = checkedOption(baudGroup_);
    settings.handshakeIndex = checkedOption(flowGroup_);
    settings.slaveIdText = slaveIdBox_->text();
}

} // namespace ostrand

#include "settings_tab.h"

#include "app/settings_file.h"
#include "app/tab_widgets.h"
#include "app/line_worker.h"
#include "link/link_settings.h"
#include "link/meter_link.h"
#include "link/meter_link.h"
#include "monitor/port_panel.h"
#include "platform/baud_rates.h"
#include "platform/com_port_names.h"
#include "platform/small_file.h"
#include "platform/text_value.h"

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
    connect(slaveIdBox_, &QLineEdit::textChanged, this, &SettingsTab::onSlaveIdEdited);

    auto *replyTimeLabel = named(new QLabel(QStringLiteral("Reply time (ms)")), QStringLiteral("ReplyTimeLabel"));
    replyTimeBox_ = named(new QSpinBox, QStringLiteral("ReplyTimeout"));
    replyTimeBox_->setRange(0, 60000);
    replyTimeBox_->setSingleStep(100);
    replyTimeBox_->setSpecialValueText(QStringLiteral("the meter's own"));
    replyTimeBox_->setToolTip(QStringLiteral("For a slow line (a modem or radio path): how long a reply may "
                                             "take before the request is sent again"));
    replyTimeLabel->setBuddy(replyTimeBox_);
    connect(replyTimeBox_, &QSpinBox::valueChanged, this, [this](int ms) {
        // Writing reads the file first: a pipe put there since start-up would hold the window.
        if (!replyTimeFile_.isEmpty() && replyTimeFileProblem(replyTimeFile_).isEmpty())
            QSettings(replyTimeFile_, QSettings::IniFormat).setValue(QStringLiteral("link/replyTimeoutMs"), ms);
        emit linkSettingsChanged();
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

    auto *slave = new QHBoxLayout;
    slave->addWidget(slaveLabel);
    slave->addWidget(slaveIdBox_);
    slave->addSpacing(24);
    slave->addWidget(replyTimeLabel);
    slave->addWidget(replyTimeBox_);
    slave->addStretch(1);
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
    if (index < 0 || index >= 4)
        return;
    portNumber_ = index + 1;
    emit linkSettingsChanged();
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

QString SettingsTab::useReplyTimeFile(const QString &path)
{
    replyTimeFile_.clear(); // reading it is no change to write back
    if (const QString problem = replyTimeFileProblem(path); !problem.isEmpty())
        return problem + QStringLiteral(": the reply time was not read from it and will not be kept");
    const int ms = QSettings(path, QSettings::IniFormat).value(QStringLiteral("link/replyTimeoutMs"), 0).toInt();
    replyTimeBox_->setValue(LinkSettings::isValidReplyTimeout(ms) ? ms : 0);
    replyTimeFile_ = path;
    return {};
}

void SettingsTab::describePortDevices()
{
    for (int i = 0; i < 4; ++i)
        portButtons_[i]->setToolTip(describeComDevice(comLinkDirs_, i + 1));
}

void SettingsTab::apply(const Settings &settings)
{
    if (settings.portIndex) {
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
    settings.portIndex = checkedOption(portGroup_);
    settings.baudIndex = checkedOption(baudGroup_);
    settings.handshakeIndex = checkedOption(flowGroup_);
    settings.slaveIdText = slaveIdBox_->text();
}

} // namespace ostrand

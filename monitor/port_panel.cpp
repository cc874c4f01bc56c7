#include "port_panel.h"

#include "platform/com_port_names.h"
#include "platform/object_name.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace ostrand {

PortPanel::PortPanel(const QStringList &linkDirs, QWidget *parent)
    : PortPanel(linkDirs, systemSerialDevices, parent)
{
}

PortPanel::PortPanel(const QStringList &linkDirs, DeviceSource source, QWidget *parent)
    : QWidget(parent), linkDirs_(linkDirs), source_(std::move(source))
{
    deviceList_ = named(new QListWidget, QStringLiteral("portDeviceList"));
    comPorts_ = named(new QLabel, QStringLiteral("portComMap"));
    comPorts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    comChoice_ = named(new QComboBox, QStringLiteral("portComChoice"));
    for (int n = 1; n <= kComPorts; ++n)
        comChoice_->addItem(QStringLiteral("COM%1").arg(n), n);
    assign_ = named(new QPushButton(QStringLiteral("&Use selected device")), QStringLiteral("portAssignButton"));
    refresh_ = named(new QPushButton(QStringLiteral("&Refresh")), QStringLiteral("portRefreshButton"));
    status_ = named(new QLabel, QStringLiteral("portStatus"));
    status_->setWordWrap(true);

    auto *box = new QGroupBox(QStringLiteral("Serial Devices"));
    auto *grid = new QGridLayout(box);
    grid->addWidget(comPorts_, 0, 0, 1, 4);
    grid->addWidget(deviceList_, 1, 0, 1, 4);
    grid->addWidget(comChoice_, 2, 0);
    grid->addWidget(assign_, 2, 1);
    grid->setColumnStretch(2, 1);
    grid->addWidget(refresh_, 2, 3);
    grid->addWidget(status_, 3, 0, 1, 4);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box);

    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &PortPanel::refresh);
    connect(refresh_, &QPushButton::clicked, this, &PortPanel::refresh);
    connect(assign_, &QPushButton::clicked, this, &PortPanel::assignSelected);
    connect(deviceList_, &QListWidget::currentRowChanged, this, &PortPanel::updateAssignButton);
    refresh();
}

void PortPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    poll_.start();
}

void PortPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    poll_.stop();
}

void PortPanel::refresh()
{
    QList<SerialDevice> now = source_ ? source_() : QList<SerialDevice>();
    if (!listed_ || now != devices_) {
        const QString changes = describeChanges(compareDevices(devices_, now));
        devices_ = std::move(now);
        if (listed_ && !changes.isEmpty())
            showStatus(changes, false);
        listed_ = true;
    }
    // Redrawn every time: a COMn link may have been changed from outside the program.
    fillDeviceList();
    showComPorts();
}

void PortPanel::fillDeviceList()
{
    const QString selected = deviceList_->currentItem()
                                 ? deviceList_->currentItem()->data(Qt::UserRole).toString()
                                 : QString();
    QStringList texts;
    for (int i = 0; i < devices_.size(); ++i) {
        QStringList ports;
        for (int n = 1; n <= kComPorts; ++n) {
            if (deviceForComPort(devices_, linkDirs_, n) == i)
                ports << QStringLiteral("COM%1").arg(n);
        }
        QString text = deviceSummary(devices_[i]);
        if (!ports.isEmpty())
            text += QStringLiteral("   [%1]").arg(ports.join(QStringLiteral(", ")));
        texts << text;
    }
    bool same = deviceList_->count() == texts.size();
    for (int i = 0; same && i < texts.size(); ++i)
        same = deviceList_->item(i)->text() == texts[i];
    if (same)
        return;

    deviceList_->clear();
    for (int i = 0; i < devices_.size(); ++i) {
        auto *item = new QListWidgetItem(texts[i], deviceList_);
        item->setData(Qt::UserRole, devices_[i].systemLocation);
        item->setToolTip(linkTargetFor(devices_[i]));
        if (devices_[i].systemLocation == selected)
            deviceList_->setCurrentItem(item);
    }
    if (devices_.isEmpty()) {
        auto *item = new QListWidgetItem(QStringLiteral("No serial devices found"), deviceList_);
        item->setFlags(Qt::NoItemFlags);
    }
    updateAssignButton();
}

void PortPanel::showComPorts()
{
    QStringList lines;
    for (int n = 1; n <= kComPorts; ++n)
        lines << comPortLine(devices_, linkDirs_, n);
    comPorts_->setText(lines.join(QLatin1Char('\n')));
}

bool PortPanel::assign(int portNumber, int deviceIndex)
{
    if (deviceIndex < 0 || deviceIndex >= devices_.size()) {
        showStatus(QStringLiteral("Choose a device first."), true);
        return false;
    }
    const QString target = linkTargetFor(devices_[deviceIndex]);
    QString error;
    if (!linkComPort(linkDirs_.value(0), portNumber, target, &error)) {
        showStatus(error, true);
        return false;
    }
    showStatus(QStringLiteral("COM%1 now leads to %2.").arg(portNumber).arg(target), false);
    fillDeviceList();
    showComPorts();
    emit comLinkChanged(portNumber);
    return true;
}

void PortPanel::assignSelected()
{
    const QListWidgetItem *item = deviceList_->currentItem();
    const QString location = item ? item->data(Qt::UserRole).toString() : QString();
    int index = -1;
    for (int i = 0; i < devices_.size(); ++i) {
        if (devices_[i].systemLocation == location)
            index = i;
    }
    assign(comChoice_->currentData().toInt(), index);
}

void PortPanel::showStatus(const QString &text, bool trouble)
{
    status_->setText(text);
    status_->setStyleSheet(trouble ? QStringLiteral("color: #b01010;") : QString());
}

void PortPanel::updateAssignButton()
{
    const QListWidgetItem *item = deviceList_->currentItem();
    assign_->setEnabled(item && !item->data(Qt::UserRole).toString().isEmpty());
}

} // namespace ostrand

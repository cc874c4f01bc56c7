#pragma once

#include "monitor/port_discovery.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <utility>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace ostrand {

// The Settings tab's port discovery: the serial devices present, where COM1
// to COM4 lead, and a way to point one of them at a device (the COMn link
// beside the program). While shown it looks for adapters plugged in or out.
class PortPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kComPorts = 4;
    // Often enough to notice a plugged adapter before the operator looks for
    // it, rarely enough that the listing's cost goes unseen.
    static constexpr int kPollMs = 2000;

    // COMn links are looked for in `linkDirs` and written to the first; the devices come from the system.
    explicit PortPanel(const QStringList &linkDirs, QWidget *parent = nullptr);
    // The same with the devices from `source` (tests, or another listing).
    PortPanel(const QStringList &linkDirs, DeviceSource source, QWidget *parent = nullptr);
    PortPanel(const QString &linkDir, DeviceSource source, QWidget *parent = nullptr)
        : PortPanel(QStringList{linkDir}, std::move(source), parent)
    {
    }

    // The devices as last listed.
    const QList<SerialDevice> &devices() const { return devices_; }
    // Lists the devices again and shows where each COM port leads.
    void refresh();
    // Points COM `portNumber` at the device at `deviceIndex` in devices(); false (with the
    // reason shown) when the link could not be written.
    bool assign(int portNumber, int deviceIndex);

signals:
    // COM `portNumber` now leads elsewhere: a port open on it should be reopened.
    void comLinkChanged(int portNumber);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void fillDeviceList();
    void showComPorts();
    void assignSelected();
    void showStatus(const QString &text, bool trouble);
    void updateAssignButton();

    QStringList linkDirs_;
    DeviceSource source_;
    QList<SerialDevice> devices_;
    bool listed_ = false;
    QTimer poll_;

    QListWidget *deviceList_ = nullptr;
    QLabel *comPorts_ = nullptr;
    QComboBox *comChoice_ = nullptr;
    QPushButton *assign_ = nullptr;
    QPushButton *refresh_ = nullptr;
    QLabel *status_ = nullptr;
};

} // namespace ostrand

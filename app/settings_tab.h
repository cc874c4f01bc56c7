#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <array>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace ostrand {

class LineWorker;
class NetworkChoice;
struct Settings;

// "Settings": the slave address, baud rate, port (COM1 to COM4 or a device
// server on the network) and flow control, the options awkward lines need,
// and the serial devices present.
class SettingsTab : public QWidget {
    Q_OBJECT
public:
    SettingsTab(const QStringList &comLinkDirs, LineWorker &line, QWidget *parent = nullptr);

    // What the link is to use. The port is 0 and the rate empty until a setting
    // or a click chose one; the slave address is the last valid one typed to its end.
    // With "Network" chosen the port number stays the last COM port chosen.
    int portNumber() const { return portNumber_; }
    // "tcp://HOST:PORT" or "rfc2217://HOST:PORT" while "Network" is chosen; empty for a COM port.
    QString networkAddress() const;
    // A pause between a reply and the next request, in ms.
    int requestGapMs() const;
    // The adapter returns every byte sent.
    bool echo() const;
    // "Let the port go when idle": off unless the user ticked it.
    bool releaseWhenIdle() const;
    QString baudRateText() const { return baudRateText_; }
    int slaveId() const { return slaveId_; }
    // How long a reply may take on a slow line, in ms; 0 for the meters' own timings.
    int replyTimeoutMs() const;
    // Takes the reply time, the request gap, echo and the network choice from
    // the file at `path` (a small file of its own, so 7700dwn.ini stays as
    // other installations read it) and keeps them there. A pipe, device or
    // oversized file there is neither read nor written: the returned text
    // says so, empty when the file is usable or absent.
    QString useLinkOptionsFile(const QString &path);
    // Whether the Slave ID box holds an address a meter can have.
    bool slaveIdValid() const { return slaveIdValid_; }

    void apply(const Settings &settings);
    void store(Settings &settings) const;
    // A COMn link may have been made or changed since the last look.
    void describePortDevices();

signals:
    void linkSettingsChanged();
    void releaseWhenIdleChanged(bool on);

private:
    void onBaudClicked(int index);
    void onPortClicked(int index);
    void onSlaveIdEdited();
    void onNetworkAddressChanged();
    // Writes one of the link options to their file, when it is usable.
    void keep(const QString &key, const QVariant &value);

    QStringList comLinkDirs_;
    LineWorker &line_;
    QLineEdit *slaveIdBox_ = nullptr;
    QSpinBox *replyTimeBox_ = nullptr;
    QSpinBox *requestGapBox_ = nullptr;
    QCheckBox *echoBox_ = nullptr;
    QCheckBox *releaseWhenIdleBox_ = nullptr;
    NetworkChoice *network_ = nullptr;
    QRadioButton *networkButton_ = nullptr;
    QString linkOptionsFile_;
    QButtonGroup *baudGroup_ = nullptr;
    QButtonGroup *portGroup_ = nullptr;
    QButtonGroup *flowGroup_ = nullptr;
    std::array<QRadioButton *, 4> portButtons_{};
    int portNumber_ = 0;
    int lastComIndex_ = 0; // the COM option 7700dwn.ini keeps while "Network" is chosen
    bool networkChosen_ = false;
    QString baudRateText_;
    int slaveId_ = 0;
    bool slaveIdValid_ = true;
};

} // namespace ostrand

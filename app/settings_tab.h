#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <optional>

class QButtonGroup;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace ostrand {

class LineWorker;
struct Settings;

// "Settings": the slave address, baud rate, port and flow control, and the
// serial devices present.
class SettingsTab : public QWidget {
    Q_OBJECT
public:
    SettingsTab(const QStringList &comLinkDirs, LineWorker &line, QWidget *parent = nullptr);

    // What the link is to use. The port is 0 and the rate empty until a setting
    // or a click chose one; the slave address is the last valid one typed.
    int portNumber() const { return portNumber_; }
    QString baudRateText() const { return baudRateText_; }
    int slaveId() const { return slaveId_; }
    // How long a reply may take on a slow line, in ms; 0 for the meters' own timings.
    int replyTimeoutMs() const;
    // Takes the reply time from the file at `path` (a small file of its own, so
    // 7700dwn.ini stays as other installations read it) and keeps it there.
    // A pipe, device or oversized file there is neither read nor written: the
    // returned text says so, empty when the file is usable or absent.
    QString useReplyTimeFile(const QString &path);
    // Whether the Slave ID box holds an address a meter can have.
    bool slaveIdValid() const { return slaveIdValid_; }

    void apply(const Settings &settings);
    void store(Settings &settings) const;
    // A COMn link may have been made or changed since the last look.
    void describePortDevices();

signals:
    void linkSettingsChanged();

private:
    void onBaudClicked(int index);
    void onPortClicked(int index);
    void onSlaveIdEdited();

    QStringList comLinkDirs_;
    LineWorker &line_;
    QLineEdit *slaveIdBox_ = nullptr;
    QSpinBox *replyTimeBox_ = nullptr;
    QString replyTimeFile_;
    QButtonGroup *baudGroup_ = nullptr;
    QButtonGroup *portGroup_ = nullptr;
    QButtonGroup *flowGroup_ = nullptr;
    std::array<QRadioButton *, 4> portButtons_{};
    int portNumber_ = 0;
    QString baudRateText_;
    int slaveId_ = 0;
    bool slaveIdValid_ = true;
};

} // namespace ostrand

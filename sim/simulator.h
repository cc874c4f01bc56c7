#pragma once

#include "hayes_modem.h"
#include "meter_setup.h"
#include "meter_service.h"
#include "pty_line.h"
#include "sim_options.h"
#include "tcp_line.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace ostrand::sim {

class PacedWriter;

// The running simulator: a meter (with its faults and, optionally, a modem in front)
// on a pseudo-terminal, driven by the Qt event loop. Nothing runs while the line is quiet.
class Simulator : public QObject {
    Q_OBJECT
public:
    // Line printers for the status lines (stdout) and the verbose trace (stderr).
    using Printer = std::function<void(const QString &)>;

    Simulator(const SimOptions &options, const MeterContents &contents, Printer say, Printer trace,
              QObject *parent = nullptr);
    ~Simulator() override;

    // Opens the line, places the link and says "ready". False with `error` set on failure.
    bool start(QString *error);
    // Closes the line and removes the link.
    void stop();

private:
    bool openLine(QString *error);
    void closeLine();
    // The descriptor the meter reads and writes: the pty master or the TCP connection.
    int lineFd() const { return tcp_ ? connection_ : line_.masterFd(); }
    bool listenTcp(QString *error);
    void onConnectionWaiting();
    void closeConnection(const QString &why);
    void noteSerialSpeed();
    void onReadable();
    void feedOrModem(const QByteArray &bytes);
    void feedMeter(const QByteArray &bytes);
    void takeModemOutput(const ModemOutput &out);
    void armModemTimer();
    void onDropReached();
    qint64 nowMs() const { return service_->nowMs(); }
    void trace(const QString &line) const { service_->trace(line); }

    SimOptions options_;
    Printer say_;
    Printer trace_;
    MeterService *service_ = nullptr;
    std::optional<HayesModem> modem_;
    PtyLine line_;
    DeviceLink link_;
    std::unique_ptr<TcpLine> tcp_; // set when serving on TCP
    QSocketNotifier *acceptable_ = nullptr;
    int connection_ = -1;
    int serialSpeed_ = 0; // as last said

    QSocketNotifier *readable_ = nullptr;
    PacedWriter *writer_ = nullptr;
    QTimer modemTimer_;
    QTimer liveLogTimer_;
    int lineGeneration_ = 0;
};

} // namespace ostrand::sim

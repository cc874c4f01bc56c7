#pragma once

#include "fault_policy.h"
#include "meter.h"
#include "meter_setup.h"
#include "request_framer.h"
#include "sim_options.h"

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <memory>

namespace ostrand::sim {

// One simulated meter as every kind of line serves it: the master's bytes come in, are cut
// into requests and answered with the faults applied, and the replies go to whatever
// carries them (a pseudo-terminal, a TCP connection, a router's packets). The meter and its
// log outlive the lines, so a reconnect finds the same log and download marker.
class MeterService : public QObject {
    Q_OBJECT
public:
    using Printer = std::function<void(const QString &)>;
    // Takes reply bytes; with `dropAfter` >= 0 the line drops once that many went out.
    using Sink = std::function<void(const QByteArray &bytes, int dropAfter)>;

    // The meter `contents` describe, set up as `options` say. `name` goes after the status
    // lines ("confirmed NAME") when several meters share the output; empty for one.
    MeterService(const SimOptions &options, const MeterContents &contents, const QString &name,
                 QObject *parent = nullptr);
    ~MeterService() override;

    void setSink(Sink sink) { sink_ = std::move(sink); }
    // Status lines (stdout) and the trace (already filtered by --verbose).
    void setPrinters(Printer say, Printer trace);

    // A fresh line is in use: a half-received request and the per-line faults are forgotten.
    void newLine();
    // The line is gone: replies still on their way (a delayed one) go nowhere.
    void lineGone() { ++generation_; }
    // Bytes from the master; `quietMs` is how long the line had been quiet (-1: unknown).
    void receive(const QByteArray &bytes, qint64 quietMs);
    // Logs one more instant, one interval after the last (live logging).
    void logNextInstant();

    Meter &meter() { return *meter_; }
    qint64 nowMs() const { return clock_.elapsed(); }
    void trace(const QString &line) const;

private:
    void answer(const QByteArray &frame);
    void deliver(const FaultOutcome &outcome, int generation);
    QDateTime meterNow() const;

    SimOptions options_;
    MeterContents contents_; // without its records once they are in the log
    QString name_;
    std::unique_ptr<Meter> meter_;
    FaultPolicy faults_;
    RequestFramer framer_;
    Sink sink_;
    Printer say_;
    Printer trace_;
    QElapsedTimer clock_;
    // How long the line was quiet before the request now arriving began (-1: nothing sent
    // yet), traced so the master's inter-frame gap can be checked from outside.
    qint64 quietBeforeRequestMs_ = -1;
    int generation_ = 0;
};

} // namespace ostrand::sim

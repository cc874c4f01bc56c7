#pragma once

#include "call_in_router.h"
#include "sim_options.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

namespace ostrand::sim {

// The meters of a --call-in run, each behind its own router, all on the one event loop:
// builds them (meter K's log and ID), spreads their first connects and says "ready" once
// every one of them has tried.
class CallInFleet : public QObject {
    Q_OBJECT
public:
    using Printer = CallInRouter::Printer;

    // `now` is the meter time the logs end at when no start is given (one for all meters,
    // so that meter K's log does not depend on when it was built).
    CallInFleet(const SimOptions &options, const QDateTime &now, Printer say, Printer trace,
                QObject *parent = nullptr);
    ~CallInFleet() override;

    // Builds the meters and starts connecting. False with `error` set.
    bool start(QString *error);
    // Closes every connection.
    void stop();

private:
    void startNext();
    void logNextInstant();

    SimOptions options_;
    QDateTime now_;
    Printer say_;
    Printer trace_;
    QList<CallInRouter *> routers_;
    int started_ = 0;
    QElapsedTimer spreadStart_;
    QTimer spreadTimer_;
    QTimer liveLogTimer_;
};

} // namespace ostrand::sim

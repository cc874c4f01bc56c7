#pragma once

#include <QObject>

class QSocketNotifier;

namespace ostrand::sim {

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal on the event loop (through a
// self-pipe), so the program can tidy up (remove its link) before it ends.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // True when the handlers are in place.
    bool installed() const { return notifier_ != nullptr; }

signals:
    // One of the signals arrived; `number` says which.
    void received(int number);

private:
    void drain();

    QSocketNotifier *notifier_ = nullptr;
};

} // namespace ostrand::sim

#pragma once

#include "platform/serial_port.h"
#include "virtual_clock.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace ostrand {

// A SerialPort whose far end is the test. It records what the code under test does to the port,
// and a responder plays the meter: every byte it delivers gets an arrival time on the VirtualClock,
// so slow lines and late replies behave as on a real wire. Bytes are lost when they arrive while
// the port is closed or unplugged; discardInput() drops only bytes that have arrived.
class FakeSerialPort : public SerialPort {
public:
    struct OpenCall {
        int portNumber;
        QString baudText;
    };
    struct Sent {
        QByteArray bytes;
        std::int64_t atMs;
    };
    // Called after each successful send with the bytes sent; usually answers with deliver().
    using Responder = std::function<void(const QByteArray &request, FakeSerialPort &port)>;

    explicit FakeSerialPort(VirtualClock &clock);

    // Bytes per second of an 8N1 line: ten bits a byte with start and stop bits.
    static int bytesPerSecondAt(int baud) { return baud / 10; }

    // open() fails like the real port on a port below 1 or a baud text that is not a positive
    // whole number, and while told to fail or unplugged.
    bool open(int portNumber, const QString &baudText) override;
    bool isOpen() const override;
    void close() override;
    void discardInput() override;
    void discardOutput() override;
    bool send(const QByteArray &bytes) override;
    int receivedCount() override;
    QByteArray read(int count) override;
    QString errorString() const override;

    // Makes later open() calls fail with `error` (until allowOpen()).
    void failOpenWith(const QString &error);
    void allowOpen();
    // Makes later sends fail with `error` until allowSends(); nothing they carry reaches the far end.
    void failSendsWith(const QString &error);
    void allowSends() { sendFailure_.clear(); }
    // The adapter is pulled: the port closes, waiting bytes are lost, open() fails until plugBackIn().
    void unplug();
    void plugBackIn();

    void setResponder(Responder responder);
    // The far end puts `bytes` on the line: the first starts `delayMs` from now, then one arrives
    // every 1/`bytesPerSecond` s (0: all at once), never overtaking a delivery still on the line.
    void deliver(const QByteArray &bytes, int delayMs = 0, int bytesPerSecond = 0);
    // Monotonic ms by which everything delivered will have arrived (now if nothing is in flight).
    std::int64_t lineIdleAtMs() const;

    // What the code under test did.
    const std::vector<OpenCall> &opens() const { return opens_; }
    const std::vector<Sent> &sends() const { return sends_; }
    int discardInputCount() const { return discardInputs_; }
    int closeCount() const { return closes_; }

private:
    struct Arrival {
        char byte;
        std::int64_t atUs;
    };
    // Moves bytes whose time has come into the receive buffer (or drops them if the port is closed).
    void settle();

    VirtualClock &clock_;
    Responder responder_;
    std::deque<Arrival> inFlight_;
    QByteArray received_;
    std::int64_t lineFreeAtUs_ = 0;
    bool open_ = false;
    bool pluggedIn_ = true;
    QString openFailure_;
    QString sendFailure_;
    QString error_;
    int portNumber_ = 0;
    std::vector<OpenCall> opens_;
    std::vector<Sent> sends_;
    int discardInputs_ = 0;
    int closes_ = 0;
};

} // namespace ostrand

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ostrand::sim {

// How the modem in front of the meter behaves.
struct ModemSettings {
    int connectDelayMs = 1500;                      // from the dial command to its result
    int guardMs = 1000;                             // silence that must follow "+++"
    QString dialResult = QStringLiteral("CONNECT"); // or BUSY, NO CARRIER, NO ANSWER...
    int lineSpeed = 9600;                           // reported as "CONNECT <speed>"
    bool echo = true;                               // echo command characters (ATE0 / ATE1)
};

// Everything one step of the modem produces.
struct ModemOutput {
    QByteArray toComputer; // echo and result codes
    QByteArray toMeter;    // data passed through while connected
    QStringList events;    // what happened, for the verbose log
};

// A Hayes-command modem answering for the meter: "AT" commands in command mode, a dial
// that connects after a delay, data passed through while connected, and the "+++" escape
// (followed by the guard time of silence) back to command mode, where ATH0 hangs up.
// Results are verbose codes framed by CR LF, e.g. "\r\nOK\r\n", "\r\nCONNECT 9600\r\n".
// Time comes in from the caller, so the modem itself never waits.
class HayesModem {
public:
    enum class State { Command, Dialing, Online, OnlineCommand };

    explicit HayesModem(ModemSettings settings);

    // Handles bytes from the computer received at `nowMs`.
    ModemOutput receive(const QByteArray &bytes, qint64 nowMs);
    // Lets timed events happen (dial result, escape guard) up to `nowMs`.
    ModemOutput tick(qint64 nowMs);
    // When tick() next has something to do, or -1 when nothing is pending.
    qint64 nextDeadline() const;

    // The current state.
    State state() const { return state_; }
    // True while data passes between computer and meter.
    bool online() const { return state_ == State::Online; }
    // Back to command mode on hook, as after a power cycle or a dropped line.
    void reset();

private:
    void commandByte(char byte, qint64 nowMs, ModemOutput &out);
    void runCommandLine(const QByteArray &line, qint64 nowMs, ModemOutput &out);
    void onlineByte(char byte, qint64 nowMs, ModemOutput &out);
    static QByteArray result(const QString &text);

    ModemSettings settings_;
    State state_ = State::Command;
    bool echo_;
    QByteArray line_;
    qint64 dialDoneMs_ = -1;
    QString number_;
    int pluses_ = 0;
    qint64 lastDataMs_ = -1;
    qint64 escapeAtMs_ = -1;
};

} // namespace ostrand::sim

#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace ostrand {

class EventPump;
class MeterLink;
class SerialLink;

// Where the dialer shows itself: in the window the status label and the "Hangup"
// button. All three must be set.
struct DialerView {
    // The status line as it reads now. The dial looks for the modem's answers
    // here, so this must return whatever any handler last wrote into it.
    std::function<QString()> status;
    // Replaces the status line's text.
    std::function<void(const QString &)> setStatus;
    // Makes "Hangup" visible; called each time a dial has sent its dial command.
    std::function<void()> showHangup;
};

// How a dial ended.
enum class DialResult {
    Connected,       // the modem reported a connection; later exchanges run over it
    CouldNotConnect, // no connect report in time (the port stays open), or the modem's
                     // refusal such as BUSY (the port is closed at once)
    PortNotOpen,     // the port could not be opened; nothing was sent or shown
    HungUp,          // a hang-up ran while the dial waited; the port is closed
    Busy,            // a dial, a hang-up or another operation held the link; nothing was done
};

// Reaches a meter through a Hayes modem on the link's port: wakes the modem,
// dials, waits for the connect report, and hangs up. The port stays open after
// a dial, so later exchanges travel over the modem connection.
class ModemDialer {
public:
    // `link` gives the port, the clock and the hold that keeps display polls off
    // the line; `pump` gives the waits that freeze the window.
    ModemDialer(MeterLink &link, EventPump &pump, DialerView view);

    // "Dial this Number": dials `phoneNumber` exactly as given (any text the modem takes).
    DialResult dialModem(const QString &phoneNumber);
    // "Hangup": back to command mode, hang up, close the port; ends a dial that is waiting.
    // With the port closed it sends nothing and only shows "Okay".
    void hangUpModem();

    // The status line's text while the dial command goes out.
    static QString dialingStatus(const QString &phoneNumber);

private:
    DialResult dial(const QString &phoneNumber);
    DialResult awaitConnectReport();
    // Moves one waiting byte into `reply` and onto the status line; true when more wait.
    bool takeOneByte(QString &reply);
    // Lets the window run between checks; false when a hang-up ran meanwhile.
    bool serviceWindow(bool bytesWaiting = true);
    // Freezes the window, sleeping, until more than `ms` have passed.
    void busyWaitMoreThan(std::int64_t ms);
    void sendIfOpen(const QByteArray &bytes);
    std::int64_t nowMs() const;

    MeterLink &link_;
    SerialLink &serial_;
    EventPump &pump_;
    DialerView view_;
    bool dialing_ = false;
    bool hangingUp_ = false;
    bool hungUpDuringDial_ = false;
};

} // namespace ostrand

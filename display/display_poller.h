#pragma once

#include "display/display_view.h"
#include "display/keypad.h"
#include "display/meter_type.h"

namespace ostrand {

class MeterLink;

// The work of one display timer tick, and the keypad queue the text poll
// drains. Every exchange goes to the slave the link is set to; the polls never report a failure:
// what failed is simply not written to the view.
//
// A tick is refused, and does nothing, while the link is busy: an exchange of
// an earlier tick is still waiting (the window runs timer ticks inside those
// waits), or another operation (a download, a dial) holds the link. A tick
// holds the link itself for its whole length, so nothing starts between its
// exchanges either.
class DisplayPoller {
public:
    // Both must outlive the poller.
    DisplayPoller(MeterLink &link, DisplayView &view);

    // A keypad button (0 to 15) was pressed: its code joins the queue. False
    // when the press was dropped (no such button, the queue is full, or the
    // meter fell silent since: `silences` is the view's count at the press,
    // which the press may reach the poller well after).
    bool pressKey(int buttonIndex, int silences);
    bool pressKey(int buttonIndex) { return pressKey(buttonIndex, view_.silences()); }
    // The same for a key code ('0'-'9', '.', 'N', 'L', 'M', 'E', 'F').
    bool queueKey(char code, int silences);
    bool queueKey(char code) { return queueKey(code, view_.silences()); }
    // The keys not yet taken by the meter.
    const KeyQueue &pendingKeys() const { return keys_; }

    // One text-display tick: the oldest queued key written to the key register
    // (kept for the next tick if the write fails, dropped with every key
    // pressed before the meter's latest silence), then each of the four lines
    // read and shown, a line whose read fails left as it was. False when refused.
    bool pollTextDisplay();
    // One display-block tick: the block read and, on success, decoded under the
    // view's selection as it is after the exchange. False when refused.
    bool pollDisplayBlock();
    // The tick of `type`'s poll.
    bool poll(MeterType type);

    static constexpr int kKeyRegister = 208;
    static constexpr int kFirstLineRegister = 24;
    static constexpr int kRegistersPerLine = 10;

private:
    void sendOldestKey();
    // Drops, and reports, the keys pressed before the meter's latest silence.
    void dropKeysOfEarlierSilences();
    int slave() const;

    MeterLink &link_;
    DisplayView &view_;
    KeyQueue keys_;
};

} // namespace ostrand

#include "display_poller.h"

#include "display/display_block.h"
#include "display/text_display.h"
#include "link/meter_link.h"

namespace ostrand {

DisplayPoller::DisplayPoller(MeterLink &link, DisplayView &view) : link_(link), view_(view)
{
}

bool DisplayPoller::pressKey(int buttonIndex, int silences)
{
    return queueKey(keypadCode(buttonIndex), silences);
}

int DisplayPoller::slave() const
{
    return link_.serial().settings().slave;
}

bool DisplayPoller::queueKey(char code, int silences)
{
    if (!keys_.append(code, silences))
        return false;
    // Pressed before a silence that has begun since: never to be sent.
    const bool late = silences < view_.silences();
    dropKeysOfEarlierSilences();
    return !late;
}

void DisplayPoller::dropKeysOfEarlierSilences()
{
    const QByteArray dropped = keys_.dropPressedBefore(view_.silences());
    if (!dropped.isEmpty())
        view_.keysDropped(dropped);
}

void DisplayPoller::sendOldestKey()
{
    dropKeysOfEarlierSilences();
    if (keys_.isEmpty())
        return;
    // Copied before the write: keys pressed during its wait join the queue meanwhile.
    const char code = keys_.front();
    // The key code goes out in both bytes of the register.
    const auto byte = static_cast<quint16>(static_cast<unsigned char>(code));
    if (link_.writeRegisters(slave(), kKeyRegister, {static_cast<quint16>(byte << 8 | byte)})) {
        keys_.removeFront();
        view_.replyReceived();
        return;
    }
    // The write waits up to 3 s, in which the silence may have been declared:
    // then it and the keys behind it go now, not on a later tick that finds the meter back.
    dropKeysOfEarlierSilences();
}

bool DisplayPoller::pollTextDisplay()
{
    if (link_.isBusy())
        return false;
    MeterLink::Hold hold(link_);
    sendOldestKey();
    bool answered = false;
    // Each line on its own: one failed read must not cost the others their update.
    for (int line = 0; line < 4; ++line) {
        const int start = kFirstLineRegister + kRegistersPerLine * line;
        if (const auto text = link_.readHoldingRegisters(slave(), start, kRegistersPerLine)) {
            view_.replyReceived();
            view_.setLine(line, displayLineText(*text));
            answered = true;
        }
    }
    // Said as the poll ends, not at the next tick, which may be a while off.
    dropKeysOfEarlierSilences();
    view_.pollEnded(answered);
    return true;
}

bool DisplayPoller::pollDisplayBlock()
{
    if (link_.isBusy())
        return false;
    MeterLink::Hold hold(link_);
    const auto block = link_.readDisplayBlock(slave());
    if (block) {
        view_.replyReceived();
        applyDisplayUpdate(decodeDisplayBlock(*block, view_.selection()), view_);
    }
    view_.pollEnded(bool(block));
    return true;
}

bool DisplayPoller::poll(MeterType type)
{
    if (meterTypeInfo(type).poll == PollKind::TextDisplay)
        return pollTextDisplay();
    return pollDisplayBlock();
}

} // namespace ostrand

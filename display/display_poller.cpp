#include "display_poller.h"

#include "display/display_block.h"
#include "display/text_display.h"
#include "link/meter_link.h"
#include "platform/shared_state.h"

namespace ostrand {

DisplayPoller::DisplayPoller(MeterLink &link, const SharedState &shared, DisplayView &view)
    : link_(link), shared_(shared), view_(view)
{
}

bool DisplayPoller::pressKey(int buttonIndex)
{
    return queueKey(keypadCode(buttonIndex));
}

bool DisplayPoller::queueKey(char code)
{
    return keys_.append(code);
}

void DisplayPoller::sendOldestKey()
{
    if (keys_.isEmpty())
        return;
    // Copied before the write: keys pressed during its wait join the queue meanwhile.
    const char code = keys_.front();
    link_.RegisterHighBytes[0] = static_cast<unsigned char>(code);
    link_.RegisterLowBytes[0] = static_cast<unsigned char>(code);
    if (link_.WriteRegisters(shared_.SlaveId, kKeyRegister, 1, 2))
        keys_.removeFront();
}

bool DisplayPoller::PollTextDisplay()
{
    if (link_.isBusy())
        return false;
    MeterLink::Hold hold(link_);
    sendOldestKey();
    // Each line on its own: one failed read must not cost the others their update.
    for (int line = 0; line < 4; ++line) {
        const int start = kFirstLineRegister + kRegistersPerLine * line;
        if (link_.ReadHoldingRegisters(shared_.SlaveId, start / 256, start % 256,
                                       kRegistersPerLine)) {
            view_.setLine(line, displayLineText(link_.ReplyData));
        }
    }
    return true;
}

bool DisplayPoller::PollDisplayBlock()
{
    if (link_.isBusy())
        return false;
    MeterLink::Hold hold(link_);
    if (link_.ReadDisplayBlock(shared_.SlaveId))
        applyDisplayUpdate(decodeDisplayBlock(link_.ReplyData, view_.selection()), view_);
    return true;
}

bool DisplayPoller::poll(MeterType type)
{
    if (meterTypeInfo(type).poll == PollKind::TextDisplay)
        return PollTextDisplay();
    return PollDisplayBlock();
}

} // namespace ostrand

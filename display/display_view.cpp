#include "display_view.h"

namespace ostrand {

void DisplayLines::setLine(int line, const QString &text)
{
    if (line < 0 || line >= kDisplayLineCount)
        return;
    lines[static_cast<std::size_t>(line)] = text;
    ++writes;
}

} // namespace ostrand

#include "keypad.h"

#include <array>

namespace ostrand {
namespace {

struct Key {
    const char *caption;
    char code;
};
// Four to a row, as the keys sit on the meter.
// clang-format off
constexpr std::array<Key, kKeypadButtons> kKeys = {{
    {"1", '1'}, {"2", '2'}, {"3", '3'}, {"Help / .", '.'},
    {"4", '4'}, {"5", '5'}, {"6", '6'}, {"Up/Next", 'N'},
    {"7", '7'}, {"8", '8'}, {"9", '9'}, {"Down", 'L'},
    {"Menu", 'M'}, {"0", '0'}, {"Enter", 'E'}, {"2nd", 'F'},
}};
// clang-format on

} // namespace

char keypadCode(int index)
{
    if (index < 0 || index >= kKeypadButtons)
        return 0;
    return kKeys[static_cast<std::size_t>(index)].code;
}

bool isKeypadCode(char code)
{
    for (const Key &key : kKeys) {
        if (key.code == code)
            return true;
    }
    return false;
}

bool KeyQueue::append(char code)
{
    if (!isKeypadCode(code) || codes_.size() >= kCapacity)
        return false;
    codes_.append(code);
    return true;
}

void KeyQueue::removeFront()
{
    if (!codes_.isEmpty())
        codes_.remove(0, 1);
}

} // namespace ostrand

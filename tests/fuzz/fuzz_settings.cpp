// Any bytes as a settings file: the reader must stop or finish, never crash,
// and hand back only values the window has a control for.
#include "app/settings_file.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(const std::optional<int> &value, int low, int high)
{
    if (value && (*value < low || *value > high))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const ostrand::Settings s =
        ostrand::readSettings(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    check(s.portIndex, 0, 3);
    check(s.baudIndex, 0, 6);
    check(s.palmCheckState, 0, 2);
    check(s.separationIndex == 1 ? std::optional<int>(-1) : s.separationIndex, 0, 2);
    check(s.meterTypeIndex, 0, 2);
    check(s.flowUnits, -1, 14);
    check(s.totalUnits, -1, 6);
    check(s.flowFormat, -1, 3);
    check(s.velocityUnits, -1, 1);
    if (!s.complete() && (s.stoppedAtLine < 1 || s.stoppedAtLine > ostrand::kSettingsLineCount))
        __builtin_trap();
    return 0;
}

// Any 20 bytes as the meter's display block, under every meter type and unit
// choice: decoding and formatting must never crash.
#include "display/display_block.h"
#include "display/display_view.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 5)
        return 0;
    ostrand::DisplaySelection selection;
    selection.type = static_cast<ostrand::MeterType>(data[0] % 4);
    selection.flowUnits = static_cast<int>(data[1] % 17) - 1;
    selection.totalUnits = static_cast<int>(data[2] % 9) - 1;
    selection.flowFormat = static_cast<int>(data[3] % 6) - 1;
    selection.velocityUnits = static_cast<int>(data[4] % 4) - 1;
    const QByteArray block(reinterpret_cast<const char *>(data + 5), int(size - 5));
    ostrand::DisplayLines lines;
    ostrand::applyDisplayUpdate(ostrand::decodeDisplayBlock(block, selection), lines);
    return 0;
}

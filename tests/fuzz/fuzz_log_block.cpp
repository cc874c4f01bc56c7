// Any bytes as a block of log records: decoding must never crash or write outside the grid.
#include "download/log_decoder.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static ostrand::ResultsGrid grid(300, 10);
    ostrand::GridState state;
    // Total channels round down; fuzz both ways from the first byte.
    for (ostrand::Channel &channel : state.channels)
        channel.total = size > 0 && (data[0] & 1);
    ostrand::decodeLogBlock(QByteArray(reinterpret_cast<const char *>(data), int(size)), grid, state);
    if (state.lastGridRow < 1)
        __builtin_trap();
    grid.clear();
    return 0;
}

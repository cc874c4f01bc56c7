// Any bytes as the handheld's database file: the reader and the conversion must
// end with a result code, never crash or write outside the grid.
#include "palm/palm_conversion.h"
#include "palm/palm_meter_ids.h"
#include "table/grid_state.h"
#include "table/results_grid.h"
#include "tests/download/recording_display.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static ostrand::ResultsGrid grid(2000, 10);
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer file(&bytes);
    ostrand::GridState state;
    ostrand::VirtualClock clock;
    ostrand::VirtualEventPump pump(clock);
    ostrand::testing::RecordingView view;
    view.separate = size > 0 && (data[0] & 1);
    view.listText = QStringLiteral("3");
    ostrand::testing::RecordingDisplay display;
    ostrand::PalmSource source;
    source.device = &file;
    const auto result = ostrand::convertPalmDatabase(source, {grid, state, view, display, pump, clock});
    if (static_cast<int>(result) < 0 || state.lastGridRow < 1)
        __builtin_trap();
    grid.clear();
    return 0;
}

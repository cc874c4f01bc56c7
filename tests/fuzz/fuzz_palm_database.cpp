// Any bytes as the handheld's database file: the reader and the conversion must
// end with a result code, never crash or write outside the grid.
#include "download/download_display.h"
#include "download/grid_state.h"
#include "download/results_grid.h"
#include "palm/palm_conversion.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_meter_ids.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>

namespace {

class View : public ostrand::PalmConversionView {
public:
    bool separate = true;
    QStringList entries;
    bool separateByModId() const override { return separate; }
    QString idListText() const override { return QStringLiteral("3"); }
    QStringList idListEntries() const override { return entries; }
    void addIdListEntry(const QString &entry) override { entries << entry; }
    void setDownloadEnabled(bool) override {}
};

class Display : public ostrand::DownloadDisplay {
public:
    void setStatus(const QString &) override {}
    void setProgress(int percent) override
    {
        if (percent < 0 || percent > 100)
            __builtin_trap();
    }
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void showDetail(const QString &) override {}
    void setChannelLabel(int channel, const QString &) override
    {
        if (channel < 1 || channel > 8)
            __builtin_trap();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static ostrand::ResultsGrid grid(2000, 10);
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer file(&bytes);
    ostrand::GridState state;
    ostrand::VirtualClock clock;
    ostrand::VirtualEventPump pump(clock);
    View view;
    view.separate = size > 0 && (data[0] & 1);
    Display display;
    ostrand::PalmSource source;
    source.device = &file;
    const auto result = ostrand::convertPalmDatabase(source, {grid, state, view, display, pump, clock});
    if (static_cast<int>(result) < 0 || state.lastGridRow < 1)
        __builtin_trap();
    grid.clear();
    return 0;
}

#include "palm_meter_ids.h"

#include "download/download_display.h"
#include "download/download_result.h"
#include "download/grid_state.h"
#include "palm/palm_conversion.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_id_list.h"
#include "palm/palm_log_reader.h"
#include "platform/event_pump.h"

namespace ostrand {

DownloadResult ListPalmMeterIds(const PalmSource &source, const PalmContext &context)
{
    context.display.setProgress(0);
    context.pump.yield(0);
    context.state.LastGridRow = 1;

    PalmLogReader reader;
    const DownloadResult opened = source.open(reader, context.display);
    if (opened != DownloadResult::Complete)
        return opened;
    if (!reader.FindFirstRecord()) {
        const bool failed = reader.failed();
        reader.ClosePalmLog();
        return failed ? DownloadResult::PalmFileUnreadable : DownloadResult::NoRecords;
    }

    const double selected = SelectedModId(context.view.idListText());
    PalmIdList ids(context.view);
    PalmLogRecord record;
    while (reader.ReadNextRecord(record)) {
        if (record.hasSync() && record.ModID != selected)
            ids.add(record.ModID);
    }
    if (reader.failed()) {
        reader.ClosePalmLog();
        return DownloadResult::PalmFileUnreadable;
    }
    context.pump.yield(0);
    reader.ClosePalmLog();
    return DownloadResult::Complete;
}

} // namespace ostrand

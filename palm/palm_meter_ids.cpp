#include "palm_meter_ids.h"

#include "download/download_display.h"
#include "download/download_result.h"
#include "palm/palm_conversion.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_id_list.h"
#include "palm/palm_log_reader.h"
#include "platform/event_pump.h"
#include "table/grid_state.h"

namespace ostrand {

DownloadResult listPalmMeterIds(const PalmSource &source, const PalmContext &context)
{
    context.display.setProgress(0);
    context.pump.yield(0);
    context.state.lastGridRow = 1;

    PalmLogReader reader;
    const DownloadResult opened = source.open(reader, context.display);
    if (opened != DownloadResult::Complete)
        return opened;
    if (!reader.findFirstRecord()) {
        const bool failed = reader.failed();
        reader.close();
        return failed ? DownloadResult::PalmFileUnreadable : DownloadResult::NoRecords;
    }

    const double selected = selectedModId(context.view.idListText());
    PalmIdList ids(context.view);
    PalmLogRecord record;
    while (reader.readNextRecord(record)) {
        if (record.hasSync() && record.modId != selected)
            ids.add(record.modId);
    }
    if (reader.failed()) {
        reader.close();
        return DownloadResult::PalmFileUnreadable;
    }
    context.pump.yield(0);
    reader.close();
    return DownloadResult::Complete;
}

} // namespace ostrand

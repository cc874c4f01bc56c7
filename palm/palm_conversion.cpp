#include "palm_conversion.h"

#include "download/download_display.h"
#include "download/download_result.h"
#include "palm/palm_channel_names.h"
#include "palm/palm_conversion_view.h"
#include "palm/palm_id_list.h"
#include "palm/palm_log_reader.h"
#include "palm/palm_stamp.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "table/channel_name.h"
#include "table/grid_headings.h"
#include "table/grid_layout.h"
#include "table/grid_row_buffer.h"
#include "table/grid_state.h"
#include "table/meter_float.h"
#include "table/results_grid.h"

#include <array>
#include <optional>

namespace ostrand {
namespace {

constexpr int kRecordColWidth = 1000;
constexpr int kOtherColWidth = 1800;
// Records between two looks at the clock: often enough to keep the wait for
// the window near kPalmYieldIntervalMs, rarely enough to cost nothing.
constexpr int kRecordsPerClockCheck = 64;

void prepareGrid(const PalmContext &context)
{
    for (int k = 1; k <= kChannelCount; ++k)
        context.display.setChannelLabel(k, QString());
    setUpGridHeadings(context.grid);
    context.state.lastGridRow = kHeadingRow;
    context.grid.setColWidthTwips(kRecordCol, kRecordColWidth);
    for (int col = kStampCol; col <= channelCol(kChannelCount); ++col)
        context.grid.setColWidthTwips(col, kOtherColWidth);
}

// The first kept record of a channel names it; later ones do not.
void takeChannelName(const PalmContext &context, int k, const PalmLogRecord &record)
{
    const QString name = cleanChannelName(
        QByteArray(reinterpret_cast<const char *>(record.channelName), sizeof record.channelName));
    if (context.state.channel(k).takePalmLabel(name)) {
        context.grid.setText(kHeadingRow, channelCol(k), name);
        context.display.setChannelLabel(k, name);
    }
}

QString recordCount(qint64 n)
{
    return n == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(n);
}

DownloadResult convertRecords(PalmLogReader &reader, const PalmContext &context)
{
    if (!reader.findFirstRecord())
        return reader.failed() ? DownloadResult::PalmFileUnreadable : DownloadResult::NoRecords;

    const bool separate = context.view.separateByModId();
    const double selected = selectedModId(context.view.idListText());
    PalmIdList ids(context.view);
    GridState &state = context.state;
    GridRowBuffer row(context.grid);
    PalmStampReader stamps;
    std::optional<PalmStamp> previous;
    std::array<bool, kChannelCount> headingSeen{};
    PalmChannelNames names; // every meter's, when their records share the columns
    std::int64_t lastYieldMs = context.clock.monotonicMs();
    int sinceClockCheck = 0;
    qint64 pastGrid = 0;

    PalmLogRecord record;
    while (reader.readNextRecord(record)) {
        if (++sinceClockCheck == kRecordsPerClockCheck) {
            sinceClockCheck = 0;
            if (context.clock.monotonicMs() - lastYieldMs >= kPalmYieldIntervalMs) {
                row.flush(); // the window may look at the grid while it has its turn
                context.pump.yield(0);
                lastYieldMs = context.clock.monotonicMs();
                if (context.stopRequested && *context.stopRequested)
                    return DownloadResult::Stopped;
            }
        }
        if (!record.hasSync())
            continue;
        if (separate && record.modId != selected) {
            ids.add(record.modId);
            continue;
        }
        const int k = record.channel();
        if (k == 0)
            continue;
        if (!separate)
            names.note(k, record);
        if (!headingSeen[k - 1]) {
            headingSeen[k - 1] = true;
            takeChannelName(context, k, record);
        }

        // Every new stamp begins a row, so no reading ever overwrites another
        // instant's, and the first one lands on row 2 whatever its time.
        const PalmStamp stamp = stamps.next(record);
        if (!previous || stamp != *previous) {
            previous = stamp;
            ++state.lastGridRow;
            row.start(state.lastGridRow);
            row.set(kRecordCol, QString::number(state.lastGridRow - 1));
            row.set(kStampCol, palmStampText(stamp));
        }
        const double value =
            decodeMeterFloat(record.value[0], record.value[1], record.value[2], record.value[3]);
        row.set(channelCol(k), state.channel(k).total ? totalValueText(value) : valueText(value));
        if (state.lastGridRow >= context.grid.rows())
            ++pastGrid;
    }
    row.flush();
    if (reader.failed())
        return DownloadResult::PalmFileUnreadable;

    DownloadDisplay &display = context.display;
    if (const int cut = reader.recordsCutOff())
        display.showDetail(QStringLiteral("the file ends inside a record: %1 not converted")
                               .arg(recordCount(cut)));
    // Nothing to write must not replace the last good file with a bare heading line.
    if (state.lastGridRow == kHeadingRow) {
        if (separate)
            display.showDetail(QStringLiteral("no record of meter %1 in the file").arg(selected));
        return DownloadResult::NoRecords;
    }
    // The merge stays as it always was; what it mixed is said.
    if (const QStringList clashes = names.clashes(); !clashes.isEmpty())
        display.showDetail(clashes.join(QStringLiteral("; ")));
    if (pastGrid > 0)
        display.showDetail(QStringLiteral("%1 did not fit in the grid and %2 not converted")
                               .arg(recordCount(pastGrid), pastGrid == 1 ? "was" : "were"));
    return DownloadResult::Complete;
}

} // namespace

DownloadResult PalmSource::open(PalmLogReader &reader, DownloadDisplay &display) const
{
    const DownloadResult result = device ? reader.open(*device) : reader.open(path);
    if (result != DownloadResult::Complete) {
        if (!reader.errorString().isEmpty())
            display.showDetail(reader.errorString());
    } else if (!reader.looksLikeDatabase()) {
        // Damaged copies of real files still give what they can, so go on.
        display.showDetail(
            QStringLiteral("not a handheld log database: results may be meaningless"));
    }
    return result;
}

DownloadResult convertPalmDatabase(const PalmSource &source, const PalmContext &context)
{
    // The grid comes cleared, so no heading stands until this conversion's names are taken.
    clearChannelLabels(context.state.channels);
    context.display.setProgress(0);
    context.pump.yield(0);
    prepareGrid(context);
    context.pump.yield(0);

    PalmLogReader reader;
    DownloadResult result;
    {
        // Redrawing off: the grid's views hear of the rows once, at the end.
        ResultsGrid::BulkUpdate bulk(context.grid);
        result = source.open(reader, context.display);
        if (result != DownloadResult::Complete)
            return result;
        context.state.lastGridRow = kHeadingRow;
        result = convertRecords(reader, context);
    }
    reader.close();
    if (result == DownloadResult::Complete)
        context.pump.yield(0);
    return result;
}

} // namespace ostrand

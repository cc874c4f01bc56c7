#include "reading_export.h"

#include "store/label_text.h"
#include "export/reading_instants.h"
#include "download/log_decoder.h"
#include "table/grid_headings.h"
#include "table/grid_layout.h"
#include "table/grid_row_buffer.h"
#include "table/meter_float.h"
#include "table/output_file.h"
#include "table/results_grid.h"

#include <array>

namespace ostrand::collect {

QByteArray windowCsv(const std::vector<StoredReading> &readings)
{
    // The window's own grid and writer, so the two files cannot drift apart.
    GridState state;
    std::array<QString, kChannelCount> labels;
    for (const StoredReading &reading : readings) {
        if (reading.channel >= 1 && reading.channel <= kChannelCount) {
            labels[reading.channel - 1] = reading.label;
            state.channel(reading.channel).inUse = true;
        }
    }
    for (int k = 1; k <= kChannelCount; ++k) {
        // As a download does: labels first, then any channel with records is in use.
        // Unlike the window's own file, a heading is quoted where it holds a comma
        // or a quote, so that every row of an export has the columns its heading has.
        if (state.channel(k).inUse) {
            state.channel(k).takeMeterLabel(csvField(withoutControlCharacters(labels[k - 1])));
            state.channel(k).inUse = true;
        }
    }
    const std::vector<Instant> instants = readingInstants(readings);
    ResultsGrid grid(kFirstDataRow + int(instants.size()), kGridCols);
    setUpGridHeadings(grid);
    setUpChannelHeadings(grid, state);
    {
        const ResultsGrid::BulkUpdate bulk(grid);
        GridRowBuffer row(grid);
        for (size_t i = 0; i < instants.size(); ++i) {
            row.start(kFirstDataRow + int(i));
            row.set(kRecordCol, QString::number(i + 1));
            const StoredReading &first = readings[instants[i].begin];
            QDate date;
            QTime time;
            if (readLocalStamp(first.timeLocal, &date, &time))
                row.set(kStampCol, stampText(date, time));
            for (size_t r = instants[i].begin; r < instants[i].end; ++r) {
                const StoredReading &reading = readings[r];
                if (reading.channel < 1 || reading.channel > kChannelCount)
                    continue;
                row.set(channelCol(reading.channel), state.channel(reading.channel).total
                                                         ? totalValueText(reading.value)
                                                         : valueText(reading.value));
            }
        }
    }
    state.lastGridRow = kFirstDataRow - 1 + int(instants.size());
    return outputFileBytes(grid, state);
}

} // namespace ostrand::collect

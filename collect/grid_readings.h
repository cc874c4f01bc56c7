#pragma once

#include "store/station_time.h"
#include "store/store_records.h"
#include "survey/survey_setup.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QDateTime>
#include <optional>
#include <vector>

namespace ostrand::collect {

// A stamp as the grid shows it ("3/15/2004 2:30:00 PM", or "3/16/2004" at
// midnight, the date already moved on) as a date and time; nullopt for any other text.
std::optional<QDateTime> gridStampTime(const QString &text);

// Each channel's value at each instant of the grid's data rows, in row order,
// their stamps made UTC by `time`; a total as the meter logged it where the
// state kept it (the grid rounds it down), the label as read. The unit is
// the one `survey` gives for the role the channel plays, else the label's in
// parentheses ("Flow (GPM)"); a label's bare last word is no unit ("Flow Tot").
std::vector<StoredReading> gridReadings(const ResultsGrid &grid, const GridState &state, const QString &station,
                                        StationTime &time, const survey::SurveySetup &survey = {});

} // namespace ostrand::collect

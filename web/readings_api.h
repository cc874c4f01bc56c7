#pragma once

#include "collect/stations_file.h"
#include "store/store_records.h"
#include "web/status_site.h"

namespace ostrand::web {

// A station's readings from `from` (inclusive) to `to` (exclusive), both
// zoned ISO 8601, in an export format (csv, iso-csv, influx), as a download.
// A time without a zone, a bad time or format, or an end before its start is
// 400 with the reason.
SiteResponse readingsDownload(const collect::Station &station, const QUrlQuery &query,
                              collect::StoreReader &store);

// A file name made of `text` that every system takes: letters, digits, '-', '.' and '_' kept, the
// rest '_'.
QString safeFileName(const QString &text);

// The site's refusal as JSON, for the programs that ask /api/.
SiteResponse jsonReason(int status, const QString &reason);

} // namespace ostrand::web

#pragma once

#include "collect/stations_file.h"
#include "store/store_records.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>
#include <vector>

namespace ostrand::web {

// One GET as the site sees it, after the server has taken it apart and let it in.
struct SiteRequest {
    QString path;    // percent-decoded: "/", "/station/north pump", "/api/stations"
    QUrlQuery query; // from=, to=, format=, ...
};

struct SiteResponse {
    int status = 200;
    QByteArray contentType; // "text/html; charset=utf-8", "application/json", "image/svg+xml", ...
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // extra ones: Content-Disposition, Cache-Control
};

// What every page is drawn from besides the store.
struct SiteSettings {
    std::vector<collect::Station> stations; // the stations file's, in its order
    qint64 staleAfterSeconds = 26 * 3600;
};

// Answers one request: the fleet page "/", a station's page "/station/NAME",
// "/api/stations" (the fleet page's rows as JSON) and
// "/api/stations/NAME/readings?from=&to=&format=" (the export formats, zoned
// ISO 8601 times only); anything else 404, a bad parameter 400, each with its
// reason. Reads the store through `store`, which the caller opened read-only
// for its own thread. Every text from the store, the stations file or the
// request is escaped where it lands (HTML, SVG, JSON).
SiteResponse answerRequest(const SiteSettings &settings, const SiteRequest &request, collect::StoreReader &store,
                           const QDateTime &nowUtc);

} // namespace ostrand::web

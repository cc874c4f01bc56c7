#include "status_site.h"

#include "health/health_sources.h"
#include "web/fleet_page.h"
#include "web/fleet_rows.h"
#include "web/html_escape.h"
#include "web/readings_api.h"
#include "web/site_json.h"
#include "web/station_page.h"

namespace ostrand::web {
namespace {

const collect::Station *stationNamed(const SiteSettings &settings, const QString &name)
{
    for (const collect::Station &station : settings.stations)
        if (station.name == name)
            return &station;
    return nullptr;
}

SiteResponse page(QByteArray body, QByteArray contentType = "text/html; charset=utf-8")
{
    SiteResponse response;
    response.contentType = std::move(contentType);
    response.body = std::move(body);
    // Always the store as it is now.
    response.headers.append({QByteArray("Cache-Control"), QByteArray("no-store")});
    return response;
}

QString unknownStation(const QString &name)
{
    return QStringLiteral("no station named '%1' in the stations file").arg(name);
}

SiteResponse stationResponse(const SiteSettings &settings, const QString &name,
                             collect::StoreReader &store, const QDateTime &nowUtc)
{
    const collect::Station *station = stationNamed(settings, name);
    if (!station)
        return reasonPage(404, unknownStation(name));
    QString error;
    const auto health =
        collect::healthFromStore(store, {*station}, nowUtc, settings.staleAfterSeconds, &error);
    if (!health)
        return reasonPage(503, error);
    const auto body = stationPage(*station, health->front(), store, nowUtc, &error);
    if (!body)
        return reasonPage(503, error);
    return page(*body);
}

} // namespace

SiteResponse answerRequest(const SiteSettings &settings, const SiteRequest &request,
                           collect::StoreReader &store, const QDateTime &nowUtc)
{
    const QString &path = request.path;
    const QLatin1String stationPrefix("/station/"), apiPrefix("/api/stations/"),
        readingsSuffix("/readings");
    if (path == QLatin1String("/") || path == QLatin1String("/api/stations")) {
        QString error;
        const auto rows =
            fleetRows(settings.stations, store, nowUtc, settings.staleAfterSeconds, &error);
        if (path == QLatin1String("/"))
            return rows ? page(fleetPage(*rows, nowUtc)) : reasonPage(503, error);
        return rows ? page(stationsJson(*rows, nowUtc, settings.staleAfterSeconds),
                           "application/json")
                    : jsonReason(503, error);
    }
    // A name may hold a slash: everything between the prefix and the suffix is the name.
    if (path.startsWith(stationPrefix) && path.size() > stationPrefix.size())
        return stationResponse(settings, path.mid(stationPrefix.size()), store, nowUtc);
    if (path.startsWith(apiPrefix) && path.endsWith(readingsSuffix) &&
        path.size() > apiPrefix.size() + readingsSuffix.size()) {
        const QString name =
            path.mid(apiPrefix.size(), path.size() - apiPrefix.size() - readingsSuffix.size());
        const collect::Station *station = stationNamed(settings, name);
        if (!station)
            return jsonReason(404, unknownStation(name));
        return readingsDownload(*station, request.query, store);
    }
    if (path.startsWith(QLatin1String("/api/")))
        return jsonReason(404, QStringLiteral("no such address: %1").arg(path));
    return reasonPage(404, QStringLiteral("no such page: %1").arg(path));
}

} // namespace ostrand::web

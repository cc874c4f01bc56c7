#include "readings_api.h"

#include "export/reading_export.h"
#include "store/time_text.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace ostrand::web {

using collect::ExportFormat;

SiteResponse jsonReason(int status, const QString &reason)
{
    SiteResponse response;
    response.status = status;
    response.contentType = "application/json";
    response.body = QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}})
                        .toJson(QJsonDocument::Compact);
    return response;
}

QString safeFileName(const QString &text)
{
    QString name;
    for (const QChar c : text)
        name += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' || c == u'.' || c == u'_'
                    ? c
                    : QChar(u'_');
    // A name of dots alone would be a folder.
    if (name.isEmpty() || name.count(u'.') == name.size())
        name = QStringLiteral("station") + name;
    return name;
}

namespace {

// A zoned time from the query, or the reason it is none.
std::optional<QDateTime> queryTime(const QUrlQuery &query, const QString &key, QString *problem)
{
    if (!query.hasQueryItem(key)) {
        *problem =
            QStringLiteral("'%1' is missing: give a zoned ISO 8601 time, e.g. 2026-12-01T00:00:00Z")
                .arg(key);
        return std::nullopt;
    }
    const QString text = query.queryItemValue(key, QUrl::FullyDecoded);
    const auto time = collect::instantFromIso(text);
    if (!time)
        *problem = QStringLiteral(
                       "'%1' is not a zoned ISO 8601 time: '%2' (a time without Z or an offset is "
                       "refused: whose local time it meant cannot be told)")
                       .arg(key, text);
    return time;
}

} // namespace

SiteResponse readingsDownload(const collect::Station &station, const QUrlQuery &query,
                              collect::StoreReader &store)
{
    QString problem;
    const auto from = queryTime(query, QStringLiteral("from"), &problem);
    if (!from)
        return jsonReason(400, problem);
    const auto to = queryTime(query, QStringLiteral("to"), &problem);
    if (!to)
        return jsonReason(400, problem);
    if (*to < *from)
        return jsonReason(400, QStringLiteral("'to' (%1) is before 'from' (%2)")
                                   .arg(collect::utcText(*to), collect::utcText(*from)));
    const QString formatName =
        query.hasQueryItem(QStringLiteral("format"))
            ? query.queryItemValue(QStringLiteral("format"), QUrl::FullyDecoded)
            : QStringLiteral("iso-csv");
    const auto format = collect::exportFormatNamed(formatName);
    if (!format)
        return jsonReason(400, QStringLiteral("unknown format '%1': %2")
                                   .arg(formatName, collect::exportFormatChoices()));
    QString error;
    const auto readings = store.readings({station.name, {}, *from, *to}, &error);
    if (!readings)
        return jsonReason(503, error);

    SiteResponse response;
    response.body = collect::exportReadings(*readings, *format);
    QString extension = QStringLiteral("csv");
    switch (*format) {
    case ExportFormat::WindowCsv:
        response.contentType = "text/csv; charset=iso-8859-1";
        break;
    case ExportFormat::IsoCsv:
        response.contentType = "text/csv; charset=utf-8";
        break;
    case ExportFormat::Influx:
        response.contentType = "text/plain; charset=utf-8";
        extension = QStringLiteral("txt");
        break;
    }
    const auto stamp = [](const QDateTime &t) {
        return t.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    };
    const QString file =
        safeFileName(
            QStringLiteral("%1_%2_%3_%4").arg(station.name, stamp(*from), stamp(*to), formatName)) +
        u'.' + extension;
    response.headers.append(
        {QByteArray("Content-Disposition"), "attachment; filename=\"" + file.toLatin1() + '"'});
    response.headers.append({QByteArray("Cache-Control"), QByteArray("no-store")});
    return response;
}

} // namespace ostrand::web

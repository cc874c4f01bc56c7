#include "http_answer.h"

namespace ostrand::web {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return status < 400 ? "OK" : status < 500 ? "Bad Request" : "Internal Server Error";
    }
}

QByteArray httpAnswer(int status, const QByteArray &contentType, const QByteArray &body,
                      const QList<QPair<QByteArray, QByteArray>> &extra, bool close, bool headOnly)
{
    QByteArray out;
    out.reserve(body.size() + 600);
    out += "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    // The pages draw their own SVG and refresh themselves with inline script;
    // nothing else may load, so injected markup can reach no other place.
    out += "Content-Security-Policy: default-src 'none'; img-src 'self' data:; style-src 'unsafe-inline'; "
           "script-src 'unsafe-inline'; connect-src 'self'; base-uri 'none'; form-action 'self'; "
           "frame-ancestors 'none'\r\n"
           "X-Content-Type-Options: nosniff\r\n"
           "Referrer-Policy: no-referrer\r\n";
    // Pages behind a token must not stay in a shared or browser cache.
    out += "Cache-Control: no-store\r\n";
    for (const auto &header : extra) {
        // A header that would end the head early or start another is dropped.
        if (header.first.contains('\r') || header.first.contains('\n') || header.second.contains('\r')
            || header.second.contains('\n'))
            continue;
        if (header.first.compare("cache-control", Qt::CaseInsensitive) == 0)
            continue;
        out += header.first + ": " + header.second + "\r\n";
    }
    out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    if (!headOnly)
        out += body;
    return out;
}

} // namespace ostrand::web

#include "html_escape.h"

#include <QUrl>

namespace ostrand::web {

QString htmlEscaped(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            // A control character has no place in a page; a store written before labels were
            // cleaned may hold one.
            out += (c.unicode() < 0x20 && c != u'\t' && c != u'\n') ? QChar(0xFFFD) : c;
        }
    }
    return out;
}

QString pathSegment(const QString &name)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name));
}

namespace {

const char *statusText(int status)
{
    switch (status) {
    case 400:
        return "Bad request";
    case 404:
        return "Not found";
    case 405:
        return "Method not allowed";
    case 500:
        return "Internal error";
    case 503:
        return "Store not available";
    default:
        return "Error";
    }
}

} // namespace

QByteArray pageHead(const QString &title)
{
    // One style for every page, inline: a site with no internet gets the same page.
    return QByteArrayLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
               "<title>") +
           htmlEscaped(title).toUtf8() +
           QByteArrayLiteral(
               "</title><style>"
               "body{font-family:system-ui,sans-serif;margin:1em 2em;color:#222;background:#fff}"
               "h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.6em}"
               "table{border-collapse:collapse}td,th{padding:.25em .6em;border-bottom:1px solid "
               "#ddd;"
               "text-align:left;vertical-align:middle;font-size:.92em}th{background:#f3f3f3}"
               ".num{text-align:right}.muted{color:#777}.err{color:#a40000}"
               ".state{font-weight:bold;padding:.1em .5em;border-radius:.3em;color:#fff}"
               ".s-Stale{background:#7b2d8b}.s-Failing{background:#c62828}.s-Late{background:#"
               "d98b00}"
               ".s-OK{background:#2e7d32}"
               ".bar,.strip{display:inline-flex;gap:1px;vertical-align:middle}"
               ".bar i,.strip i{display:inline-block;width:6px;height:16px}"
               ".strip i{width:4px}"
               ".h-none{background:#e4e4e4}.h-ok{background:#43a047}.h-failed{background:#e53935}"
               ".d-whole{background:#43a047}.d-part{background:#fb8c00;"
               "background-image:repeating-linear-gradient(45deg,#fb8c00 0 2px,#fff3e0 2px 4px)}"
               ".d-missing{background:#fff;outline:1px solid #e53935;outline-offset:-1px}"
               ".legend i{display:inline-block;width:10px;height:10px;margin:0 .3em 0 1em}"
               "svg{font:11px system-ui,sans-serif;display:block;margin:.4em 0}"
               "a{color:#1a5fb4}"
               "</style></head><body>\n");
}

SiteResponse reasonPage(int status, const QString &reason)
{
    SiteResponse response;
    response.status = status;
    response.contentType = "text/html; charset=utf-8";
    const QString title = QString::number(status) + u' ' + QLatin1String(statusText(status));
    response.body = pageHead(title) + "<h1>" + htmlEscaped(title).toUtf8() + "</h1><p>" +
                    htmlEscaped(reason).toUtf8() +
                    "</p><p><a href=\"/\">The fleet</a></p></body></html>\n";
    return response;
}

} // namespace ostrand::web

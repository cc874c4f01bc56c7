#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace ostrand::web {

// One whole HTTP/1.1 response as sent: status line, the type and length of
// `body`, the headers every answer of this server carries (a content policy
// that allows only the site itself and its inline style and script, nosniff,
// no referrer, no caching), `extra`, and `body` unless `headOnly` (a HEAD).
// `close` says the connection ends after it.
QByteArray httpAnswer(int status, const QByteArray &contentType, const QByteArray &body,
                      const QList<QPair<QByteArray, QByteArray>> &extra = {}, bool close = false,
                      bool headOnly = false);

// "Not Found" for 404: the reason phrase of a status this server sends.
QByteArray reasonPhrase(int status);

} // namespace ostrand::web

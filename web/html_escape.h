#pragma once

#include "web/status_site.h"

#include <QByteArray>
#include <QString>

namespace ostrand::web {

// Text made safe for HTML, in an element's text or a quoted attribute, and
// so in SVG too: & < > " ' written as references.
QString htmlEscaped(const QString &text);

// A station's name as one path segment of a link: every byte but letters,
// digits and - . _ ~ percent-encoded, so a name with / ? # or a quote stays one
// segment and cannot end the attribute it is in.
QString pathSegment(const QString &name);

// The site's answer to a request it refuses: a short page giving `reason`.
SiteResponse reasonPage(int status, const QString &reason);

// A page's head with the inline style every page shares; nothing from outside.
QByteArray pageHead(const QString &title);

} // namespace ostrand::web

#pragma once

#include <QByteArray>
#include <QStringList>

#include <vector>

namespace ostrand::report {

// The rows of an RFC 4180 text (quoted fields, doubled quotes, CRLF or LF),
// so a report page shows exactly the cells the matching CSV file holds.
std::vector<QStringList> csvRows(const QByteArray &text);

} // namespace ostrand::report

#pragma once

#include "link/modem_dialer.h"

#include <QString>

namespace ostrand {
class MeterLine;
}

namespace ostrand::cli {

// Dials `number` on the line, printing "Dialing ..." as it goes out and then the
// modem's final status (or, for a port that would not open, its reason on stderr).
// *dialCommandSent tells whether a hang-up is owed.
DialResult dialAndReport(MeterLine &line, const QString &number, bool *dialCommandSent);
// Escapes to the modem's command mode and hangs up, printing each status.
void hangUpAndReport(MeterLine &line);
// Why the port did not open, on stderr; returns the matching exit status.
int reportPortNotOpen(MeterLine &line);

} // namespace ostrand::cli

#pragma once

#include "link/link_settings.h"

#include <QString>

namespace ostrand {

// Which meter a command talks to and how: the one value a MeterLine is built
// from, whether it came from options, a stations file or a test.
struct LineChoice {
    int comNumber = 1;   // COM1 to COM4, when devicePath is empty
    QString devicePath;  // the port named by its device; empty for a COM number
    QString baud = QStringLiteral("38400");
    int slave = 1;
    int replyTimeoutMs = 0; // a slow line's reply time; 0 keeps the meters' own timings

    LinkSettings settings() const { return {comNumber, baud, slave, replyTimeoutMs}; }
};

} // namespace ostrand

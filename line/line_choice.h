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
    // A meter behind a device server: "tcp://HOST:PORT" (raw RTU frames) or
    // "rfc2217://HOST:PORT" (Telnet with COM-port control); empty for a serial port.
    QString networkAddress;
    int connectTimeoutMs = 10000; // how long connecting to a device server may take
    int requestGapMs = 0;         // a pause between a reply and the next request
    bool echo = false;            // the adapter returns every byte sent (2-wire RS-485)

    LinkSettings settings() const
    {
        LinkSettings s{comNumber, baud, slave, replyTimeoutMs};
        s.networkAddress = networkAddress;
        s.connectTimeoutMs = connectTimeoutMs;
        s.requestGapMs = requestGapMs;
        s.echo = echo;
        return s;
    }
};

} // namespace ostrand

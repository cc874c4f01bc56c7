#pragma once

#include <QString>

namespace ostrand {

// How the frames reach a device server: raw over TCP, or over Telnet with the
// COM-port control that sets the server's serial port.
enum class NetworkKind { RawTcp, Rfc2217 };

// What the window's address box holds, read.
struct NetworkAddress {
    QString url;     // "tcp://HOST:PORT" or "rfc2217://HOST:PORT"; empty when not an address
    QString problem; // what is wrong with the text, for beside the box; empty when it is one
    NetworkKind kind = NetworkKind::RawTcp;
};

// Reads "HOST:PORT" as `kind`, or "tcp://HOST:PORT" / "rfc2217://HOST:PORT"
// whatever `kind` says. A host is a name, an IPv4 address or an IPv6 address
// in brackets; a port 1 to 65535.
NetworkAddress readNetworkAddress(const QString &text, NetworkKind kind);

} // namespace ostrand

#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace ostrand {

// A device server that carries a meter's serial line over TCP.
struct NetworkEndpoint {
    enum class Protocol {
        RawTcp,  // the RTU frames as they are, the bytes a serial line carries
        Rfc2217, // Telnet with COM-port control, so the program sets the line's speed
    };
    Protocol protocol = Protocol::RawTcp;
    QString host;
    quint16 port = 0;
    QString given; // the text it was read from, to name an address that is none

    // The address as the user writes it and every message names it: "tcp://HOST:PORT".
    QString address() const
    {
        if (host.isEmpty() || port == 0)
            return given;
        const QString scheme = protocol == Protocol::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("tcp");
        const QString shownHost = host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
        return QStringLiteral("%1://%2:%3").arg(scheme, shownHost).arg(port);
    }
};

// "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (the scheme in any case, an IPv6
// host in brackets, the port 1 to 65535); nullopt for anything else.
std::optional<NetworkEndpoint> parseNetworkEndpoint(const QString &text);
// Whether `text` is meant as a network address at all ("SCHEME://..."), right or wrong.
bool namesNetworkAddress(const QString &text);

} // namespace ostrand

#include "network_address.h"

#include "platform/network_endpoint.h"

#include <algorithm>

namespace ostrand {
namespace {

const QString kTcpScheme = QStringLiteral("tcp://");
const QString kRfc2217Scheme = QStringLiteral("rfc2217://");

NetworkAddress refused(const QString &problem)
{
    NetworkAddress address;
    address.problem = problem;
    return address;
}

// The first character no host name or address has, empty when there is none.
QString strayHostCharacter(const QString &host)
{
    const bool bracketed = host.startsWith(u'[') && host.endsWith(u']') && host.size() > 2;
    const QString inside = bracketed ? host.mid(1, host.size() - 2) : host;
    for (const QChar c : inside) {
        const bool allowed = bracketed ? (c.isDigit() || QStringLiteral("abcdefABCDEF:.").contains(c))
                                       : (c.isLetterOrNumber() && c.unicode() < 128) || c == u'-' || c == u'.'
                                             || c == u'_';
        if (!allowed)
            return QString(c);
    }
    return {};
}

} // namespace

NetworkAddress readNetworkAddress(const QString &text, NetworkKind kind)
{
    QString rest = text.trimmed();
    if (rest.startsWith(kTcpScheme, Qt::CaseInsensitive)) {
        kind = NetworkKind::RawTcp;
        rest.remove(0, kTcpScheme.size());
    } else if (rest.startsWith(kRfc2217Scheme, Qt::CaseInsensitive)) {
        kind = NetworkKind::Rfc2217;
        rest.remove(0, kRfc2217Scheme.size());
    } else if (rest.contains(QStringLiteral("://"))) {
        return refused(QStringLiteral("give host:port, tcp://host:port or rfc2217://host:port"));
    }
    if (rest.isEmpty())
        return refused(QStringLiteral("give the device server's host:port"));
    const int colon = static_cast<int>(rest.lastIndexOf(u':'));
    // "::1" alone is an IPv6 address with no port, not a port after a host.
    if (colon < 0 || (rest.startsWith(u'[') && colon < rest.indexOf(u']')))
        return refused(QStringLiteral("give the port after the host, as host:port"));
    const QString host = rest.left(colon);
    const QString portText = rest.mid(colon + 1);
    if (host.isEmpty())
        return refused(QStringLiteral("give the host before the port, as host:port"));
    if (const QString stray = strayHostCharacter(host); !stray.isEmpty())
        return refused(QStringLiteral("the host holds '%1', which no host name or address has").arg(stray));
    bool ok = false;
    const int port = portText.toInt(&ok);
    const bool digitsOnly = !portText.isEmpty() && std::all_of(portText.begin(), portText.end(),
                                                                [](QChar c) { return c.isDigit(); });
    if (!ok || !digitsOnly || port < 1 || port > 65535)
        return refused(QStringLiteral("the port is a number from 1 to 65535"));
    NetworkAddress address;
    address.kind = kind;
    address.url = (kind == NetworkKind::Rfc2217 ? kRfc2217Scheme : kTcpScheme) + host + u':' + QString::number(port);
    // The line reads the address with the command line's own rule; the box
    // must never hand it one that rule would refuse.
    if (!parseNetworkEndpoint(address.url))
        return refused(QStringLiteral("give host:port, tcp://host:port or rfc2217://host:port"));
    return address;
}

} // namespace ostrand

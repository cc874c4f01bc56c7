#include "network_endpoint.h"

#include <QRegularExpression>

namespace ostrand {

bool namesNetworkAddress(const QString &text)
{
    return text.contains(QLatin1String("://"));
}

std::optional<NetworkEndpoint> parseNetworkEndpoint(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^(tcp|rfc2217)://(?:\[([0-9A-Fa-f:.]+)\]|([A-Za-z0-9.\-_]+)):([0-9]{1,5})$)"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int port = match.captured(4).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    NetworkEndpoint endpoint;
    endpoint.protocol = match.captured(1).compare(QLatin1String("rfc2217"), Qt::CaseInsensitive) == 0
                            ? NetworkEndpoint::Protocol::Rfc2217
                            : NetworkEndpoint::Protocol::RawTcp;
    endpoint.host = match.captured(2).isEmpty() ? match.captured(3) : match.captured(2);
    endpoint.port = static_cast<quint16>(port);
    endpoint.given = text;
    return endpoint;
}

} // namespace ostrand

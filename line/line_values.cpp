#include "line_values.h"

#include "platform/baud_rates.h"
#include "platform/network_endpoint.h"

#include <QRegularExpression>
#include <QStringList>

namespace ostrand {
namespace {

// The rates as a list for people: "1200, 2400, ..., 19200" and the last one apart.
QStringList baudTexts()
{
    QStringList texts;
    for (const char *rate : kBaudRates)
        texts << QLatin1String(rate);
    return texts;
}

std::optional<int> parseNumber(const QString &text, bool (*valid)(int))
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || !valid(value))
        return std::nullopt;
    return value;
}

} // namespace

QString lineKeyName(LineKey key)
{
    switch (key) {
    case LineKey::Port: return QStringLiteral("port");
    case LineKey::Baud: return QStringLiteral("baud");
    case LineKey::Slave: return QStringLiteral("slave");
    case LineKey::ReplyTimeout: return QStringLiteral("reply-timeout");
    case LineKey::RequestGap: return QStringLiteral("request-gap");
    case LineKey::Echo: return QStringLiteral("echo");
    case LineKey::ConnectTimeout: return QStringLiteral("connect-timeout");
    }
    return {};
}

std::optional<int> parseSlave(const QString &text)
{
    return parseNumber(text, &LinkSettings::isValidSlave);
}

bool takeLineValue(LineChoice &choice, LineKey key, const QString &text)
{
    switch (key) {
    case LineKey::Port: {
        static const QRegularExpression com(QStringLiteral("^COM([1-4])$"),
                                            QRegularExpression::CaseInsensitiveOption);
        if (const auto match = com.match(text); match.hasMatch()) {
            choice.comNumber = match.captured(1).toInt();
            choice.devicePath.clear();
            choice.networkAddress.clear();
            return true;
        }
        // Taken for a device path, a mistyped address would end as "no such file".
        if (namesNetworkAddress(text)) {
            const auto endpoint = parseNetworkEndpoint(text);
            if (!endpoint)
                return false;
            choice.comNumber = 1;
            choice.devicePath.clear();
            choice.networkAddress = endpoint->address();
            return true;
        }
        // "-x" is a slipped option, not a file named so.
        if (text.isEmpty() || text.startsWith(u'-'))
            return false;
        choice.comNumber = 1;
        choice.devicePath = text;
        choice.networkAddress.clear();
        return true;
    }
    case LineKey::Baud:
        if (baudRateIndex(text) < 0)
            return false;
        choice.baud = text;
        return true;
    case LineKey::Slave:
        if (const auto slave = parseSlave(text)) {
            choice.slave = *slave;
            return true;
        }
        return false;
    case LineKey::ReplyTimeout:
        if (const auto ms = parseNumber(text, &LinkSettings::isValidReplyTimeout)) {
            choice.replyTimeoutMs = *ms;
            return true;
        }
        return false;
    case LineKey::RequestGap:
        if (const auto ms = parseNumber(text, &LinkSettings::isValidRequestGap)) {
            choice.requestGapMs = *ms;
            return true;
        }
        return false;
    case LineKey::Echo:
        if (text != QLatin1String("true") && text != QLatin1String("false"))
            return false;
        choice.echo = text == QLatin1String("true");
        return true;
    case LineKey::ConnectTimeout:
        if (const auto ms = parseNumber(text, &LinkSettings::isValidConnectTimeout)) {
            choice.connectTimeoutMs = *ms;
            return true;
        }
        return false;
    }
    return false;
}

QString optionProblem(LineKey key)
{
    switch (key) {
    case LineKey::Port:
        return QStringLiteral("--port takes COM1 to COM4, a device path, or a device server's "
                              "tcp://HOST:PORT or rfc2217://HOST:PORT (port 1 to 65535)");
    case LineKey::Baud: {
        QStringList rates = baudTexts();
        const QString last = rates.takeLast();
        return QStringLiteral("--baud takes %1 or %2").arg(rates.join(QStringLiteral(", ")), last);
    }
    case LineKey::Slave: return QStringLiteral("--slave takes a number from 0 to 255");
    case LineKey::ReplyTimeout: return QStringLiteral("--reply-timeout takes milliseconds from 0 to 60000");
    case LineKey::RequestGap: return QStringLiteral("--request-gap takes milliseconds from 0 to 1000");
    case LineKey::Echo: return QStringLiteral("--echo takes no value");
    case LineKey::ConnectTimeout: return QStringLiteral("--connect-timeout takes milliseconds from 1 to 300000");
    }
    return {};
}

QString stationsKeyProblem(LineKey key, const QString &value)
{
    switch (key) {
    case LineKey::Port:
        return QStringLiteral("'%1' is not COM1 to COM4, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT")
            .arg(value);
    case LineKey::Baud:
        return QStringLiteral("'%1' is not one of %2").arg(value, baudTexts().join(QStringLiteral(", ")));
    case LineKey::Slave: return QStringLiteral("'%1' is not a slave address from 0 to 255").arg(value);
    case LineKey::ReplyTimeout:
        return QStringLiteral("'%1' is not a reply time from 0 to 60000 ms").arg(value);
    case LineKey::RequestGap:
        return QStringLiteral("'%1' is not a request gap from 0 to 1000 ms").arg(value);
    case LineKey::Echo: return QStringLiteral("takes true or false");
    case LineKey::ConnectTimeout:
        return QStringLiteral("'%1' is not a connect time from 1 to 300000 ms").arg(value);
    }
    return {};
}

} // namespace ostrand

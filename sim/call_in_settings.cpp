#include "call_in_settings.h"

#include <QRegularExpression>
#include <cmath>

namespace ostrand::sim {

namespace {

// A % form in an ID pattern: "%%", or a number with an optional zero fill and width.
const QRegularExpression &percentForm()
{
    static const QRegularExpression form(QStringLiteral("%(%|(0?)([0-9]{0,2})d)"));
    return form;
}

} // namespace

QString CallInAddress::text() const
{
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

bool parseCallInAddresses(const QString &text, QList<CallInAddress> *addresses, QString *error)
{
    QList<CallInAddress> out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString item = part.trimmed();
        CallInAddress address;
        const int colon = item.lastIndexOf(QLatin1Char(':'));
        bool ok = colon > 0;
        if (ok) {
            address.host = item.left(colon);
            if (address.host.startsWith(QLatin1Char('[')) &&
                address.host.endsWith(QLatin1Char(']')))
                address.host = address.host.mid(1, address.host.size() - 2);
            address.port = item.mid(colon + 1).toInt(&ok);
        }
        if (!ok || address.host.isEmpty() || address.port < 1 || address.port > 65535) {
            *error = QStringLiteral("--call-in wants HOST:PORT[,HOST:PORT...] with ports from 1 "
                                    "to 65535, not \"%1\"")
                         .arg(item);
            return false;
        }
        out << address;
    }
    *addresses = out;
    return true;
}

bool parseSeconds(const QString &text, double minSeconds, double maxSeconds, const char *option,
                  int *ms, QString *error)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < minSeconds || seconds > maxSeconds) {
        *error = QStringLiteral("--%1 wants seconds from %2 to %3, not \"%4\"")
                     .arg(QLatin1String(option))
                     .arg(minSeconds)
                     .arg(maxSeconds)
                     .arg(text);
        return false;
    }
    *ms = int(std::lround(seconds * 1000.0));
    return true;
}

bool isNumberedId(const QByteArray &pattern)
{
    auto matches = percentForm().globalMatch(QString::fromUtf8(pattern));
    while (matches.hasNext()) {
        if (matches.next().captured(1) != QLatin1String("%"))
            return true;
    }
    return false;
}

bool checkIdPattern(const QByteArray &pattern, QString *error)
{
    const QString text = QString::fromUtf8(pattern);
    // Every % must belong to a form: "%s" or a lone "%" would be sent as typed, which is
    // never what was meant.
    int numbers = 0;
    int percents = 0;
    for (auto matches = percentForm().globalMatch(text); matches.hasNext();) {
        const auto match = matches.next();
        const bool doubled = match.captured(1) == QLatin1String("%");
        percents += doubled ? 2 : 1;
        numbers += doubled ? 0 : 1;
    }
    if (percents != text.count(QLatin1Char('%'))) {
        *error = QStringLiteral("--call-in-id \"%1\": a % may only start a number (%d, %4d, "
                                "%04d) or stand doubled for itself")
                     .arg(text);
        return false;
    }
    if (numbers > 1) {
        *error = QStringLiteral("--call-in-id \"%1\" holds more than one number").arg(text);
        return false;
    }
    return true;
}

QByteArray registrationId(const CallInSettings &settings, int meterNumber)
{
    if (settings.idIsHex)
        return settings.id;
    const QString text = QString::fromUtf8(settings.id);
    QString out;
    int at = 0;
    for (auto matches = percentForm().globalMatch(text); matches.hasNext();) {
        const auto match = matches.next();
        out += text.mid(at, match.capturedStart() - at);
        if (match.captured(1) == QLatin1String("%")) {
            out += QLatin1Char('%');
        } else {
            const int width = match.captured(3).toInt();
            out += QStringLiteral("%1").arg(meterNumber, width, 10,
                                            QLatin1Char(match.captured(2).isEmpty() ? ' ' : '0'));
        }
        at = int(match.capturedEnd());
    }
    out += text.mid(at);
    return out.toUtf8();
}

} // namespace ostrand::sim

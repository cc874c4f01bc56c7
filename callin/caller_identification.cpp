#include "caller_identification.h"

namespace ostrand::callin {
namespace {

using Verdict = CallerIdentification::Verdict;

Verdict refused(QString reason)
{
    Verdict verdict;
    verdict.kind = Verdict::Kind::Refused;
    verdict.reason = std::move(reason);
    return verdict;
}

bool inSubnet(const QHostAddress &peer, const std::pair<QHostAddress, int> &subnet)
{
    // A dual-stack listener shows an IPv4 caller as ::ffff:a.b.c.d.
    bool isIpv4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&isIpv4);
    return (isIpv4 ? QHostAddress(ipv4) : peer).isInSubnet(subnet);
}

} // namespace

QString shownBytes(const QByteArray &bytes, int most)
{
    const QByteArray shown = bytes.left(most);
    const bool text = std::all_of(shown.begin(), shown.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    const QString body = text ? QStringLiteral("'%1'").arg(QString::fromLatin1(shown))
                              : QStringLiteral("hex:%1").arg(QString::fromLatin1(shown.toHex()));
    return bytes.size() > most ? body + QStringLiteral("...") : body;
}

CallerIdentification::CallerIdentification(std::vector<CallerKey> keys, std::vector<QByteArray> heartbeats)
    : keys_(std::move(keys)), heartbeats_(std::move(heartbeats))
{
}

Verdict CallerIdentification::allowed(const CallerKey &key, QByteArray rest, const QHostAddress &peer) const
{
    if (key.from && !inSubnet(peer, *key.from))
        return refused(QStringLiteral("ID %1 may call only from %2/%3")
                           .arg(shownBytes(key.id), key.from->first.toString())
                           .arg(key.from->second));
    Verdict verdict;
    verdict.kind = Verdict::Kind::Known;
    verdict.station = key.station;
    verdict.rest = std::move(rest);
    return verdict;
}

Verdict CallerIdentification::onConnect(const QHostAddress &peer) const
{
    // The narrowest subnet wins: a router's own address over its site's range.
    const CallerKey *best = nullptr;
    bool anyById = false;
    for (const CallerKey &key : keys_) {
        anyById = anyById || !key.id.isEmpty();
        if (key.id.isEmpty() && key.from && inSubnet(peer, *key.from)
            && (!best || key.from->second > best->from->second))
            best = &key;
    }
    if (best)
        return allowed(*best, {}, peer);
    if (!anyById)
        return refused(QStringLiteral("no station calls from this address"));
    return {};
}

Verdict CallerIdentification::onBytes(const QByteArray &received, const QHostAddress &peer) const
{
    QByteArray bytes = received;
    // A heartbeat may go out before the registration when the router's timer says so.
    for (bool skipped = true; skipped && !bytes.isEmpty();) {
        skipped = false;
        for (const QByteArray &heartbeat : heartbeats_) {
            if (!heartbeat.isEmpty() && bytes.startsWith(heartbeat)) {
                bytes.remove(0, heartbeat.size());
                skipped = true;
            }
        }
    }
    bool mayComplete = bytes.isEmpty();
    for (const CallerKey &key : keys_) {
        if (key.id.isEmpty())
            continue;
        if (bytes.startsWith(key.id))
            return allowed(key, bytes.mid(key.id.size()), peer);
        mayComplete = mayComplete || key.id.startsWith(bytes);
    }
    for (const QByteArray &heartbeat : heartbeats_)
        mayComplete = mayComplete || (!heartbeat.isEmpty() && heartbeat.startsWith(bytes));
    if (!mayComplete)
        return refused(QStringLiteral("unknown ID %1").arg(shownBytes(bytes)));
    if (received.size() >= kMaxRegistrationBytes)
        return refused(QStringLiteral("sent %1 bytes and no ID").arg(received.size()));
    return {};
}

Verdict CallerIdentification::onTimeout(const QByteArray &received, const QHostAddress &peer) const
{
    (void)peer;
    if (received.isEmpty())
        return refused(QStringLiteral("sent no ID"));
    return refused(QStringLiteral("sent no whole ID (%1)").arg(shownBytes(received)));
}

} // namespace ostrand::callin

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace ostrand::callin {

// What a station that calls in is known by: the registration its router
// sends, or the address it calls from, or both.
struct CallerKey {
    int station = -1;          // the caller's index in the list the identification was given
    QByteArray id;             // empty: known by its address alone
    std::optional<std::pair<QHostAddress, int>> from; // the subnet it must call from, if any
};

// Tells which station a caller is from its first bytes and its address,
// before anything is asked of its meter. IDs are prefix-free (the stations
// file refuses others), so the first ID the bytes begin with is the one.
class CallerIdentification {
public:
    // Registration bytes read at most: an ID is up to about 100 bytes.
    static constexpr int kMaxRegistrationBytes = 256;

    struct Verdict {
        enum class Kind { NeedMore, Known, Refused };
        Kind kind = Kind::NeedMore;
        int station = -1;     // Known
        QByteArray rest;      // Known: what followed the registration, the meter's or the router's
        QString reason;       // Refused: in words, for the log
    };

    // `heartbeats`: every station's heartbeat, skipped if one comes before the registration.
    CallerIdentification(std::vector<CallerKey> keys, std::vector<QByteArray> heartbeats);

    // Whether any station can be known by its address alone: then a caller
    // from such an address is known as soon as it connects.
    Verdict onConnect(const QHostAddress &peer) const;
    // The bytes the caller sent so far (all of them, from the connect).
    Verdict onBytes(const QByteArray &received, const QHostAddress &peer) const;
    // The caller sent no registration in time.
    Verdict onTimeout(const QByteArray &received, const QHostAddress &peer) const;

private:
    Verdict allowed(const CallerKey &key, QByteArray rest, const QHostAddress &peer) const;

    std::vector<CallerKey> keys_;
    std::vector<QByteArray> heartbeats_;
};

// The first bytes of `bytes` as a log may show them: text as it is, anything
// else in hex.
QString shownBytes(const QByteArray &bytes, int most = 48);

} // namespace ostrand::callin

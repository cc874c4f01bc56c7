#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace ostrand::sim {

// When a router sends its registration ID.
enum class IdMode {
    None,  // never
    First, // once, right after connecting
    Every, // alone right after connecting, then in front of every packet (not heartbeats)
};

// A collector address a router calls.
struct CallInAddress {
    QString host;
    int port = 0;
    QString text() const;
};

// The simulated cellular router in front of each meter: it connects out to a collector and
// passes the meter's bytes both ways.
struct CallInSettings {
    QList<CallInAddress> addresses; // tried in turn, one per connect; empty: no router
    QByteArray id;                  // registration ID; text may hold a %d number pattern
    bool idIsHex = false;           // given as hex: (taken as it is, never a pattern)
    IdMode idMode = IdMode::None;
    QByteArray heartbeat; // empty: none
    int heartbeatEveryMs = 30000;
    int reconnectAfterMs = 5000;
    int packetBytes = 64;
    int meters = 1;
    int connectSpreadMs = 0; // first connects spread evenly over this long
    bool enabled() const { return !addresses.isEmpty(); }
};

// Longest registration ID and heartbeat taken: above what routers send, so that a
// collector's own bound can be tried.
constexpr int kMaxIdBytes = 1024;
constexpr int kMaxHeartbeatBytes = 256;

// "HOST:PORT[,HOST:PORT...]" ("[v6]:PORT" for an IPv6 address). False with `error` set.
bool parseCallInAddresses(const QString &text, QList<CallInAddress> *addresses, QString *error);

// A time in seconds, fractions allowed ("0.5"), from `minSeconds` to `maxSeconds`, as
// milliseconds. False with `error` naming `option`.
bool parseSeconds(const QString &text, double minSeconds, double maxSeconds, const char *option,
                  int *ms, QString *error);

// Whether `pattern` numbers its meters: it holds one %d form (%d, %4d, %04d).
bool isNumberedId(const QByteArray &pattern);
// False with `error` set when `pattern` holds a % other than one %d form or "%%".
bool checkIdPattern(const QByteArray &pattern, QString *error);

// The registration ID of meter `meterNumber`: the pattern's %d form filled in ("north-%04d"
// and 7 give "north-0007", "%%" gives "%"); a hex ID as it is.
QByteArray registrationId(const CallInSettings &settings, int meterNumber);

} // namespace ostrand::sim

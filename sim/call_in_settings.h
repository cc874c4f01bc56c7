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
    // Lists cycle over the meters by number (meter K takes entry (K - 1) mod size), so one
    // fleet can mix routers and a meter run alone still behaves as it did in the fleet.
    QList<IdMode> idModes{IdMode::None};
    QByteArray heartbeat;               // empty: none
    QList<int> heartbeatEveryMs{30000}; // 0: this meter's router sends none
    quint32 sourceBase = 0;             // IPv4 address meter 1 connects from (0: any)
    int reconnectAfterMs = 5000;
    int packetBytes = 64;
    int meters = 1;
    int connectSpreadMs = 0; // first connects spread evenly over this long
    // A fault drop leaves the old connection open and silent, as one whose end the network
    // lost, so the collector sees the new one beside a stale one.
    bool leaveStale = false;
    bool enabled() const { return !addresses.isEmpty(); }
    IdMode idModeOf(int meterNumber) const
    {
        return idModes.at((meterNumber - 1) % idModes.size());
    }
    // Milliseconds between meter `meterNumber`'s heartbeats; 0 for none.
    int heartbeatMsOf(int meterNumber) const
    {
        return heartbeat.isEmpty()
                   ? 0
                   : heartbeatEveryMs.at((meterNumber - 1) % heartbeatEveryMs.size());
    }
    // The IPv4 address (host order) meter `meterNumber` connects from, counted up from the
    // base one a meter; 0 when the system picks.
    quint32 sourceOf(int meterNumber) const
    {
        return sourceBase == 0 ? 0 : sourceBase + quint32(meterNumber - 1);
    }
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

#pragma once

#include "cumulative/output_conflicts.h"
#include "store/station_time.h"
#include "store/store_location.h"
#include "line/line_choice.h"
#include "survey/survey_setup.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace ostrand::collect {

// How a station that calls in is known when its router connects, and what
// its router adds to the meter's bytes.
struct CallIn {
    QByteArray id;              // the registration; empty: known by its address alone
    bool idEveryPacket = false; // the ID in front of every packet, not once after connecting
    QByteArray heartbeat;       // empty: none
    std::optional<std::pair<QHostAddress, int>> from; // the subnet it must call from
};

// The collection interval of a station that calls in, unless it says (the
// status report's default for the others, a day, is kDefaultIntervalMs).
constexpr qint64 kDefaultCallInIntervalMs = 3600 * 1000;

// One meter of the fleet, as its group in the stations file describes it.
struct Station {
    QString name;
    int line = 0;         // of its [name] heading, for messages
    LineChoice lineChoice; // port, baud, slave and reply time; a device path made absolute
    QString dial;         // a number to dial through the modem on the port first; empty: direct
    bool portable = false;
    QString output;       // absolute path of the station's cumulative CSV file
    QByteArray timezone;  // IANA name of the meter's zone; empty: the machine's
    MeterClock clock = MeterClock::Local;
    std::optional<CallIn> callIn; // set when its meter calls us rather than we it
    qint64 intervalMs = -1;       // between its scheduled collections (the listener's, or the timer's that runs collect); -1: not said
    survey::SurveySetup survey;   // its channels' roles and units, and its pipe

    // The zone its stamps are read in.
    QTimeZone timeZone() const;

    // Stations sharing this key share a device and are collected one after another;
    // COMn is looked up in `comLinkDirs` as the port will be.
    QString portKey(const QStringList &comLinkDirs) const;
};

// Where collected readings are published, from the [publish] group.
struct PublishTarget {
    QString url;          // mqtt://HOST:PORT or mqtts://HOST:PORT
    QString caFile;       // mqtts: the authority the broker's certificate is checked against
    QString username;     // empty: no login
    QString passwordFile; // the password, read when publishing; empty: none
    QString topic = QStringLiteral("flow/{station}"); // {station} replaced by the station's name
    int qos = 1;          // the only one taken: at least once
};

struct StationsFile {
    std::vector<Station> stations;
    std::optional<StoreLocation> store; // from the [store] group; none: the CSV files alone
    std::optional<PublishTarget> publish; // from the [publish] group; needs a store
    QString listenAddress; // from the [listen] group: where meters call in; empty: not said
    QString error; // "FILE:LINE: key 'KEY': what is wrong"; empty when the file is sound
};

// Reads a stations file: one [name] group per station with the keys port,
// baud, slave, reply-timeout, dial, portable, output, timezone, clock and
// interval (or, for a meter that calls in, call-in, call-in-id, heartbeat,
// call-in-from in place of port and dial), the survey keys (depth-channel,
// velocity-channel, flow-channel, total-channel, depth-unit, velocity-unit,
// flow-unit, total-unit, pipe-diameter, pipe-slope, manning-n; no channel in
// two roles), an optional [listen] group with its
// address, and an optional [store] group with its url (a relative sqlite: file taken from
// the stations file's folder). Anything it does not
// understand is an error naming the file, the line and the key, and then no
// station is returned. A relative output or device path is taken from the
// stations file's folder, since a scheduler starts us in a folder nobody
// chose. A station's line starts as `defaults` (the command line's reply time).
StationsFile readStationsFile(const QString &path, const LineChoice &defaults = {});
// The same from text already read; `fileName` names it in errors, `baseDir` anchors paths.
StationsFile parseStations(const QByteArray &text, const QString &fileName, const QString &baseDir,
                           const LineChoice &defaults = {});

// Each station's name and cumulative file, for the checks that no two files are one.
std::vector<StationOutput> stationOutputs(const std::vector<Station> &stations);

// A registration or heartbeat as the stations file gives it: text, or
// hex:0A0B... for bytes; empty with *problem set when it is neither.
QByteArray callInBytes(const QString &value, QString *problem);
// An interval: seconds ("90") or a number and a unit (s, min, h, d): "15 min".
// Nothing with *problem set when it is none.
std::optional<qint64> intervalMs(const QString &value, QString *problem);
// The stations whose meters call in, or the others.
std::vector<Station> callingStations(const std::vector<Station> &stations, bool callIn);

} // namespace ostrand::collect

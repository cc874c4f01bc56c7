#pragma once

#include "cumulative/output_conflicts.h"
#include "store/station_time.h"
#include "store/store_location.h"
#include "line/line_choice.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace ostrand::collect {

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

    // The zone its stamps are read in.
    QTimeZone timeZone() const;

    // Stations sharing this key share a device and are collected one after another;
    // COMn is looked up in `comLinkDirs` as the port will be.
    QString portKey(const QStringList &comLinkDirs) const;
};

struct StationsFile {
    std::vector<Station> stations;
    std::optional<StoreLocation> store; // from the [store] group; none: the CSV files alone
    QString error; // "FILE:LINE: key 'KEY': what is wrong"; empty when the file is sound
};

// Reads a stations file: one [name] group per station with the keys port,
// baud, slave, reply-timeout, dial, portable, output, timezone and clock, and
// an optional [store] group with its url (a relative sqlite: file taken from
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

} // namespace ostrand::collect

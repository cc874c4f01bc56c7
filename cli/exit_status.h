#pragma once

#include "download/download_result.h"

namespace ostrand::cli {

// How ostrand-cli ends, as scripts test it. Commands share a number where the
// meaning is of the same kind; each command's help says which it uses.
enum class ExitStatus : int {
    Done = 0,
    NoRecords = 1,        // download, palm, palm-ids: 0 Records Available
    CouldNotConnect = 1,  // dial
    PalmFileMissing = 2,  // palm, palm-ids
    PortNotOpen = 2,      // dial, hangup
    FileFailed = 3,       // an output, a report or a lock that could not be written
    OtherFailure = 4,     // Error in Downloading!!
    DialFailed = 5,       // download --dial: nothing downloaded
    SomeStationsFailed = 6, // collect
    StaleStation = 1,     // status: a station not collected for longer than --stale-after
    StoreFailed = 7,      // export, status: the store could not be opened or read
    BrokerFailed = 8,     // publish: the broker could not take the readings; they wait in the outbox
    Usage = 64,           // a command line or stations file that makes no sense (sysexits' EX_USAGE)
};

inline int code(ExitStatus status)
{
    return static_cast<int>(status);
}

// The status a download or a Palm conversion ends with; a file that failed
// outweighs what was read.
ExitStatus exitStatusFor(DownloadResult result, bool fileFailed = false);

} // namespace ostrand::cli

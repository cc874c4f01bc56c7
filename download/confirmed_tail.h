#pragma once

#include <QString>

namespace ostrand {

// What the meter counts as downloaded beyond the rows a file took, once it
// was told of the download. Its confirmation carries no address: the meter
// moves its last-download marker to its end as the confirmation arrives, so
// whatever it logged after the download's last pointer read is counted too.
struct ConfirmedTail {
    enum class Outcome {
        Nothing, // nothing beyond what was read, or the meter was not told
        Read,    // those records are in the grid now: the file takes them too
        Unread,  // the meter counts them as downloaded, yet they could not be read
    };
    Outcome outcome = Outcome::Nothing;
    // With Read or Unread: which records, by log address and count.
    QString records;
};

} // namespace ostrand

#pragma once

#include <QString>
#include <array>

namespace ostrand {

// The channels a meter logs, numbered 1 to 8 on the meter, in its records and
// in the handheld's; each has a column of the results grid.
constexpr int kChannelCount = 8;

// What the results table knows of one channel. The flags outlive a download
// or conversion; the label is the heading this one gave the channel.
struct Channel {
    QString label;      // as written into the heading row; empty when none was taken
    bool inUse = false; // the channel has a column in the file
    bool total = false; // its values are written rounded down to whole numbers

    // The unit the label ends with: "(GPM)", or a short last word ("Level ft",
    // "Total Gal"); empty when the label names none.
    QString unit() const;

    // Takes a label read from the meter's channel setup or from a handheld
    // record: "Not Used" (by the source's own rule) takes the channel out of
    // use; any other label puts it in use, as a total when it holds "Tot", and
    // becomes its label. An empty label changes nothing, so a channel keeps
    // the flags an earlier download or conversion gave it. Returns whether
    // the label was taken.
    bool takeMeterLabel(const QString &text);
    bool takePalmLabel(const QString &text);
};

using Channels = std::array<Channel, kChannelCount>;

// The meter's setup holds "Not Used" as the whole label; a label that merely
// begins with it names a channel in use.
bool meterLabelMeansNotUsed(const QString &text);
// A handheld record's name field holds whatever follows the first eight
// characters, so only those decide.
bool palmLabelMeansNotUsed(const QString &text);

// A download or conversion begins with no label taken; the flags stay.
void clearChannelLabels(Channels &channels);

} // namespace ostrand

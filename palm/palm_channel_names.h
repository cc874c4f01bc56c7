#pragma once

#include "palm/palm_log_record.h"

#include <QString>
#include <QStringList>
#include <array>
#include <bitset>
#include <vector>

namespace ostrand {

// The name each meter gives each channel in a conversion of every meter's
// records ("Dont Separate"), where one column takes channel k of all of them:
// the column bears the first name met, so a meter naming it otherwise has its
// readings under a heading that is not theirs.
class PalmChannelNames {
public:
    // Notes the name `record` gives its channel (1 to 8), once per meter and channel.
    void note(int channel, const PalmLogRecord &record);
    // One line per channel named differently: "meters 3 and 7 label channel 2
    // differently (Level, Velocity): one column holds both".
    QStringList clashes() const;

private:
    struct Naming {
        int modId;
        QString name;
    };
    std::array<std::bitset<256>, kChannelCount> seen_;
    std::array<std::vector<Naming>, kChannelCount> names_;
};

} // namespace ostrand

#pragma once

#include <QString>
#include <bitset>

namespace ostrand {

class PalmConversionView;

// The meter ID a list text selects: its leading number rounded to a whole
// one (halves to even), 0 when it has none.
double selectedModId(const QString &listText);

// Adds meter IDs met in the file to the window's ID list, each once, in the
// order they are first met. Keeps what the list holds so that a scan of many
// records need not ask the window each time; only a Palm operation adds
// entries, and no other can run meanwhile.
class PalmIdList {
public:
    // Reads the list's entries.
    explicit PalmIdList(PalmConversionView &view);
    // Appends `modId` in decimal unless an entry already has that numeric value.
    void add(int modId);

private:
    PalmConversionView &view_;
    std::bitset<256> listed_;
};

} // namespace ostrand

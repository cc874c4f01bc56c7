#pragma once

#include <optional>

namespace ostrand {

// The meter types of the "Meter Type" options, valued as their option index.
enum class MeterType { Series7700 = 0, Model8100 = 1, Model8300 = 2, R1900Portable = 3 };

constexpr int kMeterTypeCount = 4;

// How a type's display is read: the text lines and keypad, or the value block.
enum class PollKind { TextDisplay, DisplayBlock };

// Everything that depends on the meter type alone.
struct MeterTypeInfo {
    const char *caption; // option caption, trailing blank included where the meter has one
    PollKind poll;
    int timer;                // 1, 2 or 3: the window timer whose tick runs the poll
    int periodMs;             // that timer's period
    bool startsOnSelection;   // the poll runs from the type's selection, not from "Begin"
    bool keypadVisible;       // the keypad frame
    bool unitControlsVisible; // the four unit frames, the "Alarms" label and the alarm line
    bool showsReverseTotal;   // line 4 carries the reverse total
    bool showsLoop2Alarm;     // alarm bit 32 is shown
    int settingValue;         // stored under "[MeterType]"
};

// The row of `type`.
const MeterTypeInfo &meterTypeInfo(MeterType type);

// The type of option `index` (0 to 3); nothing for any other index.
std::optional<MeterType> meterTypeFromIndex(int index);

} // namespace ostrand

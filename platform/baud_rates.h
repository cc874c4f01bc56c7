#pragma once

#include <QString>
#include <array>

namespace ostrand {

// The rates the meters support, slowest first: the Settings tab's options, the
// settings file's values and the command line's --baud all take these.
inline constexpr std::array<const char *, 7> kBaudRates = {"1200",  "2400",  "4800", "9600",
                                                           "14400", "19200", "38400"};

// The position of `text` in kBaudRates, -1 when it is not one of them.
inline int baudRateIndex(const QString &text)
{
    for (int i = 0; i < int(kBaudRates.size()); ++i) {
        if (text == QLatin1String(kBaudRates[i]))
            return i;
    }
    return -1;
}

} // namespace ostrand

#pragma once

#include "link/link_error.h"

#include <QString>

namespace ostrand {

// What the meter's Modbus exception codes mean to the link and to the reader.

// The refusal an exception code stands for (Refused for a code without one of its own).
LinkError refusalFor(int code);
// Acknowledge (5) and busy (6) ask to be asked again later, as after silence.
bool asksToWait(int code);
// "illegal data address"; empty for a code without a name.
QString exceptionName(int code);

} // namespace ostrand

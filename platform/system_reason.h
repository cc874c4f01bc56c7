#pragma once

#include <QString>

namespace ostrand {

// The system's words for a failed call's errno, in the user's language: "No such file or directory".
QString systemReason(int error);

} // namespace ostrand

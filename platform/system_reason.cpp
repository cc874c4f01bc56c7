#include "system_reason.h"

#include <cstring>

namespace ostrand {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace ostrand

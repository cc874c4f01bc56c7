#pragma once

#include <QString>

namespace ostrand {

// The sentence a technician needs when the system refused `device` for lack of
// permission: the group that owns the device and how to become a member.
QString permissionAdvice(const QString &device);

} // namespace ostrand

#include "port_permission.h"

#include <QFileInfo>

namespace ostrand {

QString permissionAdvice(const QString &device)
{
    // Debian gives serial lines to "dialout"; a udev rule may name another group,
    // and joining root's group is never the answer.
    QString group = QFileInfo(device).group();
    if (group.isEmpty() || group == QLatin1String("root"))
        group = QStringLiteral("dialout");
    return QStringLiteral("Using %1 needs membership of the group \"%2\": "
                          "run sudo adduser $USER %2, then log out and log in again.")
        .arg(device, group);
}

} // namespace ostrand

#include "window_fixture.h"

#include "app/settings_file.h"

namespace ostrand::testing {

QStringList defaultSettingsLines()
{
    QStringList lines = QString::fromLatin1(defaultSettingsBytes()).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

} // namespace ostrand::testing

#pragma once

#include <QStringList>

namespace ostrand::cli {

// ostrand-cli download --port PORT [--baud RATE] [--slave ID] [--since-last] [--portable] [--output FILE]
int runDownloadCommand(const QStringList &arguments);

} // namespace ostrand::cli

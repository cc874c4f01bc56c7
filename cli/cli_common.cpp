#include "cli_common.h"

#include <cstdio>

namespace ostrand::cli {

int usageError(const QString &message)
{
    std::fprintf(stderr, "ostrand-cli: %s\nTry 'ostrand-cli --help'.\n", qPrintable(message));
    return code(ExitStatus::Usage);
}

void printLine(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void printDetail(const QString &line)
{
    std::fflush(stdout);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

} // namespace ostrand::cli

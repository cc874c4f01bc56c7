#include "cli_common.h"

#include "link/link_settings.h"
#include "platform/baud_rates.h"

#include <QRegularExpression>
#include <cstdio>

namespace ostrand::cli {

int usageError(const QString &message)
{
    std::fprintf(stderr, "ostrand-cli: %s\nTry 'ostrand-cli --help'.\n", qPrintable(message));
    return kUsageError;
}

std::optional<PortChoice> parsePort(const QString &text)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-4])$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(text);
    if (match.hasMatch())
        return PortChoice{match.captured(1).toInt(), QString()};
    if (text.isEmpty() || text.startsWith(u'-'))
        return std::nullopt;
    return PortChoice{1, text};
}

bool isSupportedBaud(const QString &text)
{
    return baudRateIndex(text) >= 0;
}

std::optional<int> parseSlave(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || !LinkSettings::isValidSlave(value))
        return std::nullopt;
    return value;
}

std::optional<int> parseReplyTimeout(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || !LinkSettings::isValidReplyTimeout(value))
        return std::nullopt;
    return value;
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

int exitStatusFor(DownloadResult result, bool fileFailed)
{
    if (fileFailed)
        return kFileFailedStatus;
    switch (result) {
    case DownloadResult::Complete: return 0;
    case DownloadResult::NoRecords: return 1;
    case DownloadResult::PalmFileMissing: return 2;
    default: return kOtherFailureStatus;
    }
}

} // namespace ostrand::cli

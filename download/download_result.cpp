#include "download_result.h"

namespace ostrand {
namespace {

// The texts both operations share; nullptr for a failure each words its own way.
const char *commonText(DownloadResult result)
{
    switch (result) {
    case DownloadResult::NoRecords: return "0 Records Available";
    case DownloadResult::PalmFileMissing: return "Could not find Palm DataFile!!";
    case DownloadResult::Stopped: return "Stopped";
    default: return nullptr;
    }
}

} // namespace

QString downloadStatusText(DownloadResult result)
{
    if (result == DownloadResult::Complete)
        return QStringLiteral("Completed Download.");
    const char *text = commonText(result);
    return text ? QString::fromLatin1(text) : QStringLiteral("Error in Downloading!!");
}

QString idListStatusText(DownloadResult result)
{
    if (result == DownloadResult::Complete)
        return QStringLiteral("Finished Reading");
    const char *text = commonText(result);
    return text ? QString::fromLatin1(text) : QStringLiteral("Error!!");
}

} // namespace ostrand

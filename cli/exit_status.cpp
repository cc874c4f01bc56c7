#include "exit_status.h"

namespace ostrand::cli {

ExitStatus exitStatusFor(DownloadResult result, bool fileFailed)
{
    if (fileFailed)
        return ExitStatus::FileFailed;
    switch (result) {
    case DownloadResult::Complete: return ExitStatus::Done;
    case DownloadResult::NoRecords: return ExitStatus::NoRecords;
    case DownloadResult::PalmFileMissing: return ExitStatus::PalmFileMissing;
    default: return ExitStatus::OtherFailure;
    }
}

} // namespace ostrand::cli

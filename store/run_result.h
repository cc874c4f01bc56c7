#pragma once

#include <QString>

namespace ostrand::collect {

// How a station's run ended.
enum class RunResult { Ok, Failed, Skipped };

// The one spelling of a result, in the store's collections table, the
// histories beside the outputs and the run's reports: "ok", "failed", "skipped".
inline QString runResultText(RunResult result)
{
    switch (result) {
    case RunResult::Ok: return QStringLiteral("ok");
    case RunResult::Failed: return QStringLiteral("failed");
    case RunResult::Skipped: return QStringLiteral("skipped");
    }
    return {};
}

} // namespace ostrand::collect

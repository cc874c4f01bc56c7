#include "progress_text.h"

#include <cmath>

namespace ostrand {

QString replyWaitText(const ReplyWait &wait)
{
    // Rounded up: a wait never reads as having outlived its own limit.
    const int giveUp = static_cast<int>(std::ceil(wait.giveUpSeconds - 1e-9));
    return QStringLiteral("Waiting for the meter: no reply for %1 s (gives up at %2 s)")
        .arg(wait.silentSeconds)
        .arg(giveUp);
}

QString labelStepText(int channel, int channels)
{
    return QStringLiteral("Reading channel labels %1 of %2").arg(channel).arg(channels);
}

QString rowsReadText(int rows)
{
    return rows == 1 ? QStringLiteral("1 row read, not written yet")
                     : QStringLiteral("%1 rows read, not written yet").arg(rows);
}

} // namespace ostrand

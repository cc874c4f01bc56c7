#pragma once

#include "link/reply_wait.h"

#include <QString>

namespace ostrand {

// "Waiting for the meter: no reply for 12 s (gives up at 30 s)".
QString replyWaitText(const ReplyWait &wait);

// "Reading channel labels 3 of 8".
QString labelStepText(int channel, int channels);

// "42 rows read, not written yet": what a download holds while it waits for an answer.
QString rowsReadText(int rows);

} // namespace ostrand

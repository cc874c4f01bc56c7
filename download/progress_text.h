#pragma once

#include "link/reply_wait.h"

#include <QString>

namespace ostrand {

// "Waiting for the meter: no reply for 12 s (gives up at 30 s)"; with
// `attempts` above 1, which of the block's tries this is.
QString replyWaitText(const ReplyWait &wait, int attempt = 1, int attempts = 1);

// "Reading channel labels 3 of 8".
QString labelStepText(int channel, int channels);

// "42 rows read, not written yet": what a download holds while it waits for an answer.
QString rowsReadText(int rows);

} // namespace ostrand

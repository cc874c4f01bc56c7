#include "display/reply_watch.h"
#include "virtual_clock.h"

#include <gtest/gtest.h>

using namespace ostrand;

// Each row: what happens, ms after the previous row; then what the panel shows.
TEST(ReplyWatch, namesASilentMeterOnlyWhileItsPollWaitsAndDimsByTheTypesAge)
{
    enum Step { Start7700, StartPortable, PollStarts, Reply, AnsweredEnd, SilentEnd, Finish, Wait };
    const struct {
        Step step;
        int afterMs;
        bool noReply, stale;
        std::int64_t untilChange; // -1: nothing changes with time alone
    } rows[] = {
        {Start7700, 0, false, false, 3000},  {PollStarts, 750, false, false, 2250},
        {Reply, 100, false, false, 3000},    {Wait, 2999, false, false, 1},
        {Wait, 1, true, true, -1},           {Reply, 28000, false, false, 3000},
        {AnsweredEnd, 10, false, false, 2990}, {Finish, 0, false, false, 2990},
        {Wait, 5000, false, true, -1},       {PollStarts, 0, true, true, -1},
        {SilentEnd, 30000, true, true, -1},  {Finish, 0, true, true, -1},
        // The portable's values age in two periods; a download holding the link is no silence.
        {StartPortable, 0, false, false, 2000}, {Wait, 2000, false, true, -1},
        {PollStarts, 0, false, true, 1000},  {Reply, 1400, false, false, 2000},
        {Finish, 0, false, false, 2000},     {Wait, 2500, false, true, -1},
    };
    VirtualClock clock;
    ReplyWatch watch(clock);
    for (const auto &row : rows) {
        clock.advance(row.afterMs);
        switch (row.step) {
        case Start7700: watch.start(MeterType::Series7700); break;
        case StartPortable: watch.start(MeterType::R1900Portable); break;
        case PollStarts: watch.pollStarted(); break;
        case Reply: watch.replied(); break;
        case AnsweredEnd: watch.pollEnded(true); break;
        case SilentEnd: watch.pollEnded(false); break;
        case Finish: watch.pollFinished(); break;
        case Wait: break;
        }
        const int at = int(&row - rows);
        EXPECT_EQ(watch.noReply(), row.noReply) << at;
        EXPECT_EQ(watch.stale(), row.stale) << at;
        EXPECT_EQ(watch.msUntilChange().value_or(-1), row.untilChange) << at;
    }
}

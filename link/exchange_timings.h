#pragma once

namespace ostrand {

// When a wait may give up. The meters were timed against each exchange's own
// order of checks; a reply landing on the boundary is taken or refused as it
// always was.
enum class GiveUpCheck {
    WhenResendDue, // only when a resend is due, once the time is reached (>=)
    AfterResend,   // on every wake, after any resend, once the time has passed (>)
    BeforeReply,   // on every wake, before the reply is looked at (>)
};

// How one exchange waits for its reply. Times are in seconds; give-up times
// count from the first send rounded to a whole second, resends from the later
// of the last send and the last byte seen.
struct ExchangeTiming {
    double resend;    // silence before the request goes out again; 0 for never
    double giveUp;    // before a slow line's allowance
    double slowLine;  // wire time a reply may take before it earns extra time
    bool discardFirst; // a resend throws away what came before it
    bool yieldAfterSend;
    GiveUpCheck check;
};

namespace timing {

//                                          resend give-up slow   discard yield  give-up check
constexpr ExchangeTiming kHoldingRegisters   {1.0,  30.0,  1.0,  false,  false, GiveUpCheck::WhenResendDue};
constexpr ExchangeTiming kLogBlock           {0.5,   5.0,  0.5,  true,   true,  GiveUpCheck::AfterResend};
constexpr ExchangeTiming kLastDownloadPointer{0.0,   5.0,  0.5,  false,  true,  GiveUpCheck::AfterResend};
constexpr ExchangeTiming kConfirmDownload    {0.0,   4.0,  0.5,  false,  false, GiveUpCheck::BeforeReply};
constexpr ExchangeTiming kWriteRegisters     {1.0,   3.0,  1.0,  false,  false, GiveUpCheck::WhenResendDue};
constexpr ExchangeTiming kDisplayBlock       {0.0,   1.0,  0.5,  false,  false, GiveUpCheck::AfterResend};

} // namespace timing

} // namespace ostrand

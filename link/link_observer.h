#pragma once

#include <QByteArray>

namespace ostrand {

// Why an exchange with the meter came to nothing.
enum class LinkFailure {
    PortNotOpen, // the port could not be opened
    TimedOut,    // no complete reply within the exchange's time
    CrcError,    // a complete reply whose CRC was wrong
    WrongReply,  // a reply that answers another request (a late one)
};

// Watches the frames on the link, for the communication monitor. The link
// calls it only while one is attached, so an unwatched link pays nothing.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;

    // A request went out; `resend` when it repeats the exchange's earlier request.
    virtual void requestSent(const QByteArray &frame, bool resend) = 0;
    // The bytes of a reply as read, CRC included, and whether the CRC was right.
    virtual void replyRead(const QByteArray &frame, bool crcOk) = 0;
    // The exchange for `request` failed (for a port that would not open, `request` is empty).
    virtual void exchangeFailed(const QByteArray &request, LinkFailure why) = 0;
};

} // namespace ostrand

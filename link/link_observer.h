#pragma once

#include "link/link_failure.h"

#include <QByteArray>

namespace ostrand {

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
    virtual void exchangeFailed(const QByteArray &request, const LinkFailure &failure) = 0;
};

} // namespace ostrand

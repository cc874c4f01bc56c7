#pragma once

#include "link/link_result.h"

#include <QByteArray>
#include <cstdint>
#include <optional>

namespace ostrand {

class LinkObserver;
class SerialLink;
struct ReplyShape;

// One request to one slave and its reply on the line: sends the request,
// reads the reply through its CRC and, when it fails, says why as a value
// holding all its words need. Tells the monitor (if one is attached) of each
// frame as it goes, and of a reply read whole once the exchange ends.
class Exchange {
public:
    Exchange(SerialLink &link, LinkObserver *observer, int slave);
    ~Exchange();
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    // After the line's inter-frame silence; false when the port would not take it.
    bool send(const QByteArray &frame);
    const QByteArray &request() const { return request_; }
    // The time the exchange is given before it gives up, for the failure's words.
    void setGiveUp(double seconds) { giveUp_ = seconds; }
    double giveUp() const { return giveUp_; }

    // Takes a complete, sound exception reply to the request off the line, if
    // one is there, and returns its code.
    std::optional<int> takeException();
    // The reply, of `shape`, read through its CRC once it is due in full and
    // its echo checked; its data bytes.
    Result<QByteArray> readReply(const ReplyShape &shape);

    // Reads the bytes received so far, however few, and tells the monitor of
    // them: for a reply the exchange ends on before it is whole.
    void readWhatCame();

    // Why the exchange failed, told to the monitor once.
    LinkFailure fail(LinkError why, int exceptionCode = 0);
    // A reply spoilt by noise is forgotten before the request goes out again.
    void forgetReply();

private:
    // Reads `count` bytes into the running `crc`, appending them to `keep`.
    Result<void> readThroughCrc(int count, std::uint16_t &crc, QByteArray *keep = nullptr);
    Result<void> readCrcAndCompare(std::uint16_t crc);
    Result<void> checkEcho(const QByteArray &header, int bytes);
    // What came back so far, read or not, begins with the request itself.
    bool lineReturnedRequest();

    SerialLink &link_;
    LinkObserver *observer_;
    int slave_;
    double giveUp_ = 0;
    QByteArray request_;
    QByteArray reply_; // as read, for the monitor and to tell an echo
    bool failed_ = false;
};

} // namespace ostrand

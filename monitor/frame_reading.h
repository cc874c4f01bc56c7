#pragma once

#include <QByteArray>
#include <QString>

namespace ostrand {

// One-line readings of the frames on the meter link, for the communication
// monitor. Pure functions of the bytes, so they read a frame from any source.

// What a request asks: "read holding registers 76-83", "log block 08 80 00, 128 words".
QString readRequest(const QByteArray &frame);

// What a reply says, read against the `request` it answers (empty when not
// known): "16 bytes: registers 76-83", "pointer 08 85 F8", "reply CRC wrong".
QString readReply(const QByteArray &reply, const QByteArray &request = QByteArray());

// True for the first byte or two of an answer to a confirmation: the link
// takes any byte as its acknowledgement and reads only what came by then.
bool isShortAcknowledgement(const QByteArray &reply, const QByteArray &request);

// True when the last two bytes of `frame` are the CRC of the others, low byte first.
bool frameCrcMatches(const QByteArray &frame);

// "01 03 00 4C": upper-case hexadecimal, a space between bytes.
QString frameHex(const QByteArray &frame);

} // namespace ostrand

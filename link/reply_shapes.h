#pragma once

#include <QByteArray>

namespace ostrand {

// How the reply to each function is laid out: a header (slave, function and
// what the function echoes or counts), its data, then the CRC.
struct ReplyShape {
    int function;
    int headerBytes;
    int lengthAt;    // where in the header the data's byte count stands; -1: fixed
    int lengthBytes; // 1, or 2 high byte first
    int fixedData;   // the data's bytes when the length is fixed
    // Where in the request the number of words asked for stands (its low
    // byte alone when `countBytes` is 1), for the reply's expected size.
    int countAt;
    int countBytes;
    // Header bytes that must match the request's. Checked before the data
    // when the echo names what was asked (a block's address), else after the CRC.
    int echoed;
    bool echoBeforeData;
    bool checked; // false: any byte acknowledges, and none is read
};

namespace reply {

// The shape of the reply to `function`; nullptr for a function the link does not ask.
const ReplyShape *shapeOf(int function);
// Bytes the whole reply to `request` takes, CRC included: what a wait waits for.
int expectedLength(const ReplyShape &shape, const QByteArray &request);
// The data's byte count as the reply's `header` gives it.
int dataLength(const ReplyShape &shape, const QByteArray &header);

} // namespace reply

} // namespace ostrand

#pragma once

#include <QByteArray>
#include <QList>

namespace ostrand::sim {

// Cuts the byte stream from the master into RTU request frames. The length of a frame
// comes from its function code; a frame whose CRC does not check, or whose function is
// unknown, costs its first byte and the search goes on from the next, so the framer finds
// its feet again after noise. A pause on the line longer than the inter-frame silence
// throws away a frame left half-received.
class RequestFramer {
public:
    explicit RequestFramer(int silenceMs = 50);

    // Takes bytes received at `nowMs` (a monotonic millisecond clock) and returns the
    // complete frames with a good CRC, in order, whatever slave they address.
    QList<QByteArray> feed(const QByteArray &bytes, qint64 nowMs);

    // Bytes thrown away so far while looking for frames.
    qint64 discardedBytes() const { return discarded_; }
    // Whether the bytes fed so far end inside a frame.
    bool midFrame() const { return !buffer_.isEmpty(); }
    // Forgets any partial frame.
    void reset() { buffer_.clear(); }

private:
    QByteArray buffer_;
    qint64 lastByteMs_ = 0;
    qint64 discarded_ = 0;
    int silenceMs_;
};

} // namespace ostrand::sim

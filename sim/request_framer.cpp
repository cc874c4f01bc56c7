#include "request_framer.h"

#include "crc16.h"
#include "modbus_frame.h"

namespace ostrand::sim {

RequestFramer::RequestFramer(int silenceMs) : silenceMs_(silenceMs)
{
}

QList<QByteArray> RequestFramer::feed(const QByteArray &bytes, qint64 nowMs)
{
    QList<QByteArray> frames;
    if (bytes.isEmpty())
        return frames;
    if (!buffer_.isEmpty() && nowMs - lastByteMs_ > silenceMs_) {
        discarded_ += buffer_.size();
        buffer_.clear();
    }
    lastByteMs_ = nowMs;
    buffer_.append(bytes);

    for (;;) {
        const int length = requestLength(buffer_);
        if (length == 0 || (length > 0 && buffer_.size() < length))
            break;
        if (length > 0 && hasValidCrc(buffer_.left(length))) {
            frames << buffer_.left(length);
            buffer_.remove(0, length);
            continue;
        }
        buffer_.remove(0, 1);
        ++discarded_;
    }
    return frames;
}

} // namespace ostrand::sim

#include "reply_shapes.h"

#include "link/modbus_requests.h"

namespace ostrand::reply {
namespace {

constexpr int kCrcBytes = 2;

// header: bytes before the data; length: where its byte count stands, and in how many bytes;
// fixed: data bytes when there is no count; count: where the request's word count stands.
//                                   header  length  fixed  count   echo before-data checked
constexpr ReplyShape kShapes[] = {
    {request::kReadHoldingRegisters,    3,   2, 1,    0,   5, 1,   2,   false,      true},
    {request::kReadLogBlock,            7,   5, 2,    0,   5, 2,   5,   true,       true},
    {request::kReadLastDownloadPointer, 2,  -1, 0,    3,   0, 0,   2,   false,      true},
    // Any one byte is the acknowledgement.
    {request::kConfirmDownload,         1,  -1, 0,    0,   0, 0,   0,   false,      false},
    // A write of many registers is answered by its address and count alone.
    {request::kWriteRegisters,          6,  -1, 0,    0,   0, 0,   2,   false,      true},
    {request::kReadDisplayBlock,        4,  -1, 0,   20,   0, 0,   2,   false,      true},
};

int bigEndian(const QByteArray &bytes, int at, int count)
{
    int value = 0;
    for (int i = 0; i < count && at + i < bytes.size(); ++i)
        value = value * 256 + static_cast<quint8>(bytes[at + i]);
    return value;
}

} // namespace

const ReplyShape *shapeOf(int function)
{
    for (const ReplyShape &shape : kShapes) {
        if (shape.function == function)
            return &shape;
    }
    return nullptr;
}

int expectedLength(const ReplyShape &shape, const QByteArray &request)
{
    if (!shape.checked)
        return shape.headerBytes;
    const int data = shape.lengthAt < 0 ? shape.fixedData : 2 * bigEndian(request, shape.countAt, shape.countBytes);
    return shape.headerBytes + data + kCrcBytes;
}

int dataLength(const ReplyShape &shape, const QByteArray &header)
{
    return shape.lengthAt < 0 ? shape.fixedData : bigEndian(header, shape.lengthAt, shape.lengthBytes);
}

} // namespace ostrand::reply

#include "log_address.h"

namespace ostrand {

void wrapLogPage(LogAddress &address)
{
    if (address.page == kEndLogPage) {
        address.page = kFirstLogPage;
        ++address.bank;
    }
    if (address.bank >= kLastLogBank + 1)
        address.bank = kFirstLogBank;
}

LogAddress advancedBy(LogAddress address, int bytes)
{
    address.offset += bytes;
    if (address.offset > 255) {
        address.offset -= 256;
        ++address.page;
    }
    wrapLogPage(address);
    return address;
}

namespace {

// Position within the log area, counting only the log's own pages: each bank
// holds 16384 bytes of log within 65536 of address space.
std::int32_t logOffset(const LogAddress &a)
{
    return (a.bank - kFirstLogBank) * kLogBankBytes + (a.page - kFirstLogPage) * 256 + a.offset;
}

constexpr std::int32_t kLogAreaBytes = (kLastLogBank - kFirstLogBank + 1) * kLogBankBytes;

} // namespace

std::int32_t logByteCount(const LogAddress &start, const LogAddress &end)
{
    const std::int32_t p1 = start.linear();
    const std::int32_t p2 = end.linear();
    if (p2 == p1)
        return 0;
    // The count covers one record past an end pointer above the start: the
    // meters have always been read that way.
    if (p2 > p1)
        return logOffset(end) - logOffset(start) + 8;
    return (kLogAreaBytes - logOffset(start)) + logOffset(end);
}

std::int32_t logDistance(const LogAddress &from, const LogAddress &to)
{
    return ((logOffset(to) - logOffset(from)) % kLogAreaBytes + kLogAreaBytes) % kLogAreaBytes;
}

LogAddress recordBefore(const LogAddress &address)
{
    LogAddress before = address;
    before.offset -= 8;
    if (before.offset < 0) {
        before.offset += 256;
        if (--before.page < kFirstLogPage) {
            before.page = kEndLogPage - 1;
            if (--before.bank < kFirstLogBank)
                before.bank = kLastLogBank;
        }
    }
    return before;
}

QString logAddressText(const LogAddress &address)
{
    return QString::asprintf("%02X %02X %02X", address.bank, address.page, address.offset);
}

} // namespace ostrand

#pragma once

#include <QString>
#include <cstdint>

namespace ostrand {

// An address in the meter's circular log: bank A (8 to 23), page B (0x80 to
// 0xBF), offset C. Each bank holds 64 pages of 256 bytes.
struct LogAddress {
    int bank = 0;
    int page = 0;
    int offset = 0;

    // A * 65536 + B * 256 + C, the form the byte counts are worked out in.
    std::int32_t linear() const { return bank * 65536 + page * 256 + offset; }
    bool operator==(const LogAddress &o) const
    {
        return bank == o.bank && page == o.page && offset == o.offset;
    }
    bool operator!=(const LogAddress &o) const { return !(*this == o); }
};

constexpr int kFirstLogBank = 8;
constexpr int kLastLogBank = 23;
constexpr int kFirstLogPage = 0x80;
constexpr int kEndLogPage = 0xC0;
constexpr int kLogBankBytes = 16384;

// True for an address inside the log area (banks 8-23, pages 0x80-0xBF).
inline bool isInLogArea(const LogAddress &a)
{
    return a.bank >= kFirstLogBank && a.bank <= kLastLogBank && a.page >= kFirstLogPage
           && a.page < kEndLogPage && a.offset >= 0 && a.offset <= 255;
}

// Moves a page past the bank's last page into the next bank, and past bank 23 back to bank 8.
void wrapLogPage(LogAddress &address);
// The address `bytes` (0 to 255) further on, carrying into the page and bank.
LogAddress advancedBy(LogAddress address, int bytes);
// Bytes of log from `start` to `end`, as the meter counts them (a wrapped log included).
std::int32_t logByteCount(const LogAddress &start, const LogAddress &end);
// Bytes of log going forward from `from` to `to` round the ring (0 when equal).
std::int32_t logDistance(const LogAddress &from, const LogAddress &to);
// The address of the record before `address` (8 bytes back), round the ring.
LogAddress recordBefore(const LogAddress &address);
// The address as its three bytes in hex ("08 81 F8"), as messages name a record.
QString logAddressText(const LogAddress &address);
// Whether `address` lies from `start` up to `end` (inclusive) going round the ring.
inline bool liesBetween(const LogAddress &address, const LogAddress &start, const LogAddress &end)
{
    return logDistance(start, address) <= logDistance(start, end);
}

} // namespace ostrand

#pragma once

#include <QString>
#include <cstdint>

namespace ostrand::sim {

// Geometry of the log memory: banks 8-23, pages 0x80-0xBF of 256 bytes in each bank.
constexpr int kLogFirstBank = 0x08;
constexpr int kLogLastBank = 0x17;
constexpr int kLogFirstPage = 0x80;
constexpr int kLogPagesPerBank = 64;
constexpr int kPageBytes = 256;
constexpr int kBankLogBytes = kLogPagesPerBank * kPageBytes;                  // 16384
constexpr int kLogBytes = (kLogLastBank - kLogFirstBank + 1) * kBankLogBytes; // 262144

// A three-byte memory address as the block read carries it: bank, page, offset.
struct LogAddress {
    std::uint8_t bank = 0;
    std::uint8_t page = 0;
    std::uint8_t offset = 0;

    friend bool operator==(const LogAddress &a, const LogAddress &b)
    {
        return a.bank == b.bank && a.page == b.page && a.offset == b.offset;
    }
    friend bool operator!=(const LogAddress &a, const LogAddress &b) { return !(a == b); }
};

// The address as one number: bank * 65536 + page * 256 + offset.
std::uint32_t linearValue(const LogAddress &address);

// True when `address` lies inside the log memory.
bool isInLog(const LogAddress &address);

// Bytes from the start of the log memory to `address`, or -1 outside the log memory.
int logOffsetOf(const LogAddress &address);

// The address `offset` bytes into the log memory, taken round the ring.
LogAddress logAddressAt(int offset);

// `address` moved on by `bytes` within the log memory: offset carries into the page,
// page 0xC0 becomes 0x80 of the next bank, bank 24 becomes bank 8.
LogAddress advanceInLog(const LogAddress &address, int bytes);

// "08:80:00": the address as three hexadecimal bytes.
QString toText(const LogAddress &address);

// Parses "8:81:0" or "0x08:0x81:0x00" (each part hexadecimal); false when malformed.
bool parseLogAddress(const QString &text, LogAddress *address);

} // namespace ostrand::sim

#pragma once

#include "channel_setup.h"
#include "circular_log.h"
#include "display_block.h"
#include "front_panel.h"
#include "memory_map.h"

#include <QByteArray>
#include <QDateTime>
#include <QVector>
#include <optional>

namespace ostrand::sim {

// Holding registers the meter serves.
constexpr int kFirstTextRegister = 24; // 24-63: the four display lines
constexpr int kTextRegisters = 40;
constexpr int kFirstPointerRegister = 76; // 76-83: log pointers and counts
constexpr int kPointerRegisters = 8;
constexpr int kKeyRegister = 208;

// How the meter is set up when it starts.
struct MeterConfig {
    int slaveAddress = 1;
    // The "R1900 Portable" packs its pointer registers one byte earlier.
    bool portableLayout = false;
    int intervalMinutes = 15;
    int extraAlarmBits = 0;
};

// The meter's answer to one request, with what the request was, so that faults and
// reports can tell a log download from a display poll.
struct Reply {
    QByteArray bytes;       // the reply frame; empty when the meter says nothing
    bool addressed = false; // the request was for this meter
    int function = -1;
    bool pointerRead = false; // registers 76-83 were read: a download is starting
    bool logBlock = false;    // a block read that starts inside the log memory
    LogAddress blockAddress;
    int blockLength = 0;    // bytes asked for by a block read
    bool confirmed = false; // a download was confirmed
};

// The 16 bytes of registers 76-83, high byte first: start and end pointers, then records
// used and free slots as meter floats. The usual layout pads each pointer in front
// (0, bank, page, offset); the portable one packs them from the first byte and pads at
// the very end.
QByteArray pointerRegisterBytes(const CircularLog &log, bool portableLayout);

// The simulated flow meter as a Modbus RTU slave: one request frame (CRC already checked)
// in, one reply frame out. It holds the log, the channel setup, the front panel and the
// live process; it is neither copied nor moved, since its parts point at each other.
class Meter {
public:
    Meter(const MeterConfig &config, CircularLog log, const QVector<ChannelSetup> &channels,
          const QDateTime &startedAt);
    Meter(const Meter &) = delete;
    Meter &operator=(const Meter &) = delete;

    // Handles `frame` at meter time `now` and returns the reply to send.
    Reply respond(const QByteArray &frame, const QDateTime &now);

    // The address the meter answers to (the keypad can change it).
    int slaveAddress() const { return settings_.slaveAddress; }
    // Logging interval in minutes (the keypad can change it).
    int intervalMinutes() const { return settings_.intervalMinutes; }

    // The data log, for live logging and inspection.
    CircularLog &log() { return log_; }
    const CircularLog &log() const { return log_; }
    // The front panel, for inspection.
    const FrontPanel &panel() const { return panel_; }

private:
    QByteArray readRegisters(const QByteArray &frame, const QDateTime &now);
    QByteArray writeRegisters(const QByteArray &frame, const QDateTime &now, bool reply);
    QByteArray readBlock(const QByteArray &frame, Reply &reply) const;
    std::optional<std::uint16_t> holdingRegister(int reg, const QByteArray &screen,
                                                 const QByteArray &pointers) const;

    bool portableLayout_;
    PanelSettings settings_;
    CircularLog log_;
    MemoryMap memory_;
    LiveProcess process_;
    FrontPanel panel_;
    std::uint16_t lastKey_ = 0;
};

} // namespace ostrand::sim

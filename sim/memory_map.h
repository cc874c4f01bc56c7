#pragma once

#include "channel_setup.h"
#include "circular_log.h"

#include <QByteArray>
#include <QVector>

namespace ostrand::sim {

// The meter memory the block read (function 0x60) sees: the log ring, the eight channel
// setup pages, and erased bytes (0xFF) everywhere else.
class MemoryMap {
public:
    // `log` must outlive the map; `setupBlocks` holds the blocks of channels 1-8 in order.
    MemoryMap(const CircularLog *log, QVector<QByteArray> setupBlocks);

    // `length` bytes from `at`. A read that starts in the log follows the log's own
    // address advance (page 0xBF into page 0x80 of the next bank, bank 23 into bank 8),
    // so a block read never misses the records across a bank edge; elsewhere addresses
    // simply count up.
    QByteArray read(const LogAddress &at, int length) const;

private:
    char byteAtLinear(std::uint32_t linear) const;

    const CircularLog *log_;
    QVector<QByteArray> setupBlocks_;
};

} // namespace ostrand::sim

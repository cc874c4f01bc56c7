// Any bytes as the meter's reply to each exchange, on the scripted port and
// the virtual clock: every exchange must end, in its stated time, without crashing.
#include "fake_serial_port.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    ostrand::VirtualClock clock(86395 + (data[1] >> 4)); // some runs cross midnight
    ostrand::VirtualEventPump pump(clock, 5);
    ostrand::FakeSerialPort port(clock);
    ostrand::SerialLink serial(port, clock, pump);
    serial.setSettings({1, (data[1] & 1) ? QStringLiteral("1200") : QStringLiteral("38400"), 1});
    ostrand::MeterLink link(serial);

    const QByteArray reply(reinterpret_cast<const char *>(data + 2), int(size - 2));
    port.setResponder([&](const QByteArray &, ostrand::FakeSerialPort &p) { p.deliver(reply, data[1] & 0x0E); });
    const std::int64_t start = clock.monotonicMs();
    switch (data[0] % 6) {
    case 0: link.readHoldingRegisters(1, 76, 8); break;
    case 1: link.readLogBlock(1, 8, 0x80, 0, data[0] >> 3); break;
    case 2: link.readLastDownloadPointer(1); break;
    case 3: link.confirmDownload(1); break;
    case 4: link.writeRegisters(1, 208, {0}); break;
    default: link.readDisplayBlock(1); break;
    }
    // The longest wait is 30 s plus a slow line's allowance; reading a reply
    // byte by byte adds at most 2 s a byte, and no reply has more than 65535.
    if (clock.monotonicMs() - start > 40000 + 2000LL * size)
        __builtin_trap();
    return 0;
}

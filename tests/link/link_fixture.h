#pragma once

#include "fake_serial_port.h"
#include "link/crc16.h"
#include "link/meter_link.h"
#include "link/serial_link.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

namespace ostrand::testing {

// A meter on the fake port, the link over it, and time that passes only as the link yields.
class LinkFixture : public ::testing::Test {
protected:
    LinkFixture()
    {
        serial.setSettings({1, QStringLiteral("38400"), 1});
    }

    // Seconds of virtual time since `startMs`.
    double secondsSince(std::int64_t startMs) const { return (clock.monotonicMs() - startMs) / 1000.0; }

    void answerEverySendWith(const QByteArray &reply, int delayMs = 0, int bytesPerSecond = 0)
    {
        port.setResponder([=](const QByteArray &, FakeSerialPort &p) { p.deliver(reply, delayMs, bytesPerSecond); });
    }

    VirtualClock clock;
    VirtualEventPump pump{clock};
    FakeSerialPort port{clock};
    SerialLink serial{port, clock, pump};
    MeterLink link{serial};
};

} // namespace ostrand::testing

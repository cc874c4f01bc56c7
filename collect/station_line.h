#pragma once

#include <QStringList>
#include <memory>

namespace ostrand {
class MeterLink;
class EventPump;
class Clock;
}

namespace ostrand::collect {

struct Station;

// A line to one station's meter, ready for its exchanges: a port chosen (and
// opened by the first exchange), a modem's call made, or a connection a meter
// made to us and we accepted. The station collector works over it without
// knowing which.
class StationLine {
public:
    virtual ~StationLine() = default;
    virtual MeterLink &link() = 0;
    // Ends it: a dialled call hung up, the port closed.
    virtual void close() = 0;
};

// Where the station collector gets its lines, and the clock and waits that go with them.
class LineSource {
public:
    virtual ~LineSource() = default;
    // The line to `station`; null with the reasons added to *errors when there is none.
    virtual std::unique_ptr<StationLine> open(const Station &station, QStringList *errors) = 0;
    // Where the collector waits between attempts and for a claim.
    virtual EventPump &pump() = 0;
    // The time the collector stamps its runs and files with.
    virtual const Clock &clock() const = 0;
};

} // namespace ostrand::collect

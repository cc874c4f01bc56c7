#pragma once

#include "collect/station_line.h"

namespace ostrand {
class MeterLine;
}

namespace ostrand::callin {

// The line to a station whose meter called in: the one the station's thread
// holds, over the connection its router made. Closing it after a collection
// keeps the connection: the router keeps it up for the next one.
class CallInLines : public collect::LineSource {
public:
    explicit CallInLines(MeterLine &line) : line_(line) {}
    std::unique_ptr<collect::StationLine> open(const collect::Station &station, QStringList *errors) override;
    EventPump &pump() override;
    const Clock &clock() const override;

private:
    MeterLine &line_;
};

} // namespace ostrand::callin

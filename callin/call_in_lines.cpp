#include "call_in_lines.h"

#include "line/meter_line.h"

namespace ostrand::callin {
namespace {

class HeldLine : public collect::StationLine {
public:
    explicit HeldLine(MeterLine &line) : line_(line) {}
    MeterLink &link() override { return line_.link(); }
    void close() override {}

private:
    MeterLine &line_;
};

} // namespace

std::unique_ptr<collect::StationLine> CallInLines::open(const collect::Station &station, QStringList *errors)
{
    (void)station;
    (void)errors;
    // Not connected now, the first exchange waits a while for the router to call back.
    return std::make_unique<HeldLine>(line_);
}

EventPump &CallInLines::pump()
{
    return line_.pump();
}

const Clock &CallInLines::clock() const
{
    return line_.clock();
}

} // namespace ostrand::callin

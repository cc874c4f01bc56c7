#include "dialled_lines.h"

#include "collect/stations_file.h"
#include "line/meter_line.h"
#include "link/modem_dialer.h"

namespace ostrand::collect {
namespace {

// A modem takes "+++" as its escape only after a second or so of silence on the line.
constexpr int kEscapeLeadInMs = 1200;

void hangUp(MeterLine &line)
{
    QString status;
    ModemDialer dialer(line.link(), line.pump(),
                       DialerView{[&] { return status; }, [&](const QString &text) { status = text; }, [] {}});
    line.pump().sleep(kEscapeLeadInMs);
    dialer.hangUpModem();
}

class DialledLine : public StationLine {
public:
    DialledLine(MeterLine &line, bool dialled) : line_(line), dialled_(dialled) {}
    ~DialledLine() override { close(); }

    MeterLink &link() override { return line_.link(); }
    void close() override
    {
        if (closed_)
            return;
        closed_ = true;
        if (dialled_)
            hangUp(line_);
        line_.close();
    }

private:
    MeterLine &line_;
    bool dialled_;
    bool closed_ = false;
};

} // namespace

DialledLines::DialledLines(const QStringList &comLinkDirs) : line_(std::make_unique<MeterLine>(comLinkDirs)) {}

DialledLines::~DialledLines() = default;

std::unique_ptr<StationLine> DialledLines::open(const Station &station, QStringList *errors)
{
    line_->choose(station.lineChoice);
    if (!station.dial.isEmpty()) {
        QString status;
        bool dialSent = false;
        ModemDialer dialer(line_->link(), line_->pump(),
                           DialerView{[&] { return status; }, [&](const QString &text) { status = text; },
                                      [&] { dialSent = true; }});
        const DialResult dialled = dialer.dialModem(station.dial);
        if (dialled != DialResult::Connected) {
            *errors << (dialled == DialResult::PortNotOpen
                            ? line_->port().errorString()
                            : QStringLiteral("the dial did not connect: %1").arg(status.simplified()));
            // A modem still dialling would otherwise keep the line for the next station.
            if (dialSent)
                hangUp(*line_);
            line_->close();
            return nullptr;
        }
    }
    return std::make_unique<DialledLine>(*line_, !station.dial.isEmpty());
}

EventPump &DialledLines::pump()
{
    return line_->pump();
}

const Clock &DialledLines::clock() const
{
    return line_->clock();
}

} // namespace ostrand::collect

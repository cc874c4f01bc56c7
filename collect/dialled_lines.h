#pragma once

#include "collect/station_line.h"

#include <QStringList>
#include <memory>

namespace ostrand {
class MeterLine;
}

namespace ostrand::collect {

// Lines this collector opens itself, one at a time on its own port: the
// station's serial port, tcp:// or rfc2217:// device server, through its
// modem when the station has a number to dial.
class DialledLines : public LineSource {
public:
    // COMn links are looked for in `comLinkDirs`.
    explicit DialledLines(const QStringList &comLinkDirs);
    ~DialledLines() override;

    std::unique_ptr<StationLine> open(const Station &station, QStringList *errors) override;
    EventPump &pump() override;
    const Clock &clock() const override;

private:
    std::unique_ptr<MeterLine> line_;
};

} // namespace ostrand::collect

#pragma once

#include "display/meter_type.h"

#include <QByteArray>
#include <QString>
#include <array>

namespace ostrand {

// The five display lines: 0 to 3 the meter's lines top to bottom, 4 the alarm line.
constexpr int kDisplayLineCount = 5;
constexpr int kAlarmLine = 4;

// The choices the block decoding reads: the meter type and the positions of
// the four unit lists (-1 for no selection).
struct DisplaySelection {
    MeterType type = MeterType::Series7700;
    int flowUnits = -1;     // list 1
    int totalUnits = -1;    // list 2
    int flowFormat = -1;    // list 3
    int velocityUnits = -1; // list 4
};

// The display as the polls see it. The polls write only the lines they have
// news for, so a failed exchange leaves the display as it was.
class DisplayView {
public:
    virtual ~DisplayView() = default;

    // Shows `text` on `line` (0 to 4); each character stands for one byte (Latin-1).
    virtual void setLine(int line, const QString &text) = 0;
    // The type and list positions as they are now; read after each exchange, so
    // a change made while the poll waited applies to that poll's values.
    virtual DisplaySelection selection() const = 0;
    // One exchange of a poll was answered (a line, the block, a key taken), as it happens.
    virtual void replyReceived() {}
    // A poll's exchanges are over: `answered` when the meter sent something shown.
    virtual void pollEnded(bool answered) { (void)answered; }
    // How often the meter has fallen silent so far ("No reply from meter"
    // coming on); read on the polls' side at any moment. A key pressed before
    // the latest silence is dropped: sent once the meter answers again, it
    // would act long after the technician gave it up.
    virtual int silences() const { return 0; }
    // Keys were dropped unsent for that reason; `codes` oldest first.
    virtual void keysDropped(const QByteArray &codes) { (void)codes; }
};

// A DisplayView that keeps the texts, for the command line and the tests.
class DisplayLines : public DisplayView {
public:
    void setLine(int line, const QString &text) override;
    DisplaySelection selection() const override { return selected; }

    std::array<QString, kDisplayLineCount> lines;
    DisplaySelection selected;
    int writes = 0; // setLine calls so far
};

} // namespace ostrand

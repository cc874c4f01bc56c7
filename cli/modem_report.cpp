#include "modem_report.h"

#include "cli_common.h"
#include "line/meter_line.h"

#include <cstdio>

namespace ostrand::cli {
namespace {

// A modem takes "+++" as its escape only after a second or so of silence on
// the line; a download's last request may have gone out just before the hang-up.
constexpr int kEscapeLeadInMs = 1200;

} // namespace

int reportPortNotOpen(MeterLine &line)
{
    std::fprintf(stderr, "ostrand-cli: %s\n", qPrintable(line.port().errorString()));
    return code(ExitStatus::PortNotOpen);
}

DialResult dialAndReport(MeterLine &line, const QString &number, bool *dialCommandSent)
{
    QString status;
    const QString dialing = ModemDialer::dialingStatus(number);
    ModemDialer dialer(line.link(), line.pump(),
                       DialerView{[&] { return status; },
                                  [&](const QString &text) {
                                      status = text;
                                      // The modem's text grows a byte at a time; only the
                                      // moment the number goes out is worth a line.
                                      if (text == dialing)
                                          printLine(text);
                                  },
                                  [&] { *dialCommandSent = true; }});
    const DialResult result = dialer.dialModem(number);
    if (result == DialResult::PortNotOpen)
        reportPortNotOpen(line);
    else
        printLine(status.simplified());
    return result;
}

void hangUpAndReport(MeterLine &line)
{
    QString status;
    ModemDialer dialer(line.link(), line.pump(),
                       DialerView{[&] { return status; },
                                  [&](const QString &text) {
                                      status = text;
                                      printLine(text);
                                  },
                                  [] {}});
    line.pump().sleep(kEscapeLeadInMs);
    dialer.hangUpModem();
}

} // namespace ostrand::cli

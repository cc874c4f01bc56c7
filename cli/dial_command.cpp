#include "cli_common.h"
#include "command_registry.h"
#include "link/dial_string.h"
#include "link/link_settings.h"
#include "link/meter_link.h"
#include "link/modem_dialer.h"
#include "link/serial_link.h"
#include "platform/file_locations.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace ostrand::cli {

int runDialCommand(const QStringList &arguments);
int runHangUpCommand(const QStringList &arguments);
DialResult dialAndReport(MeterLink &link, EventPump &pump, const QString &number,
                         bool *dialCommandSent);
void hangUpAndReport(MeterLink &link, EventPump &pump);

namespace {

const RegisterCommand dialRegistration{{
    "dial",
    "  dial --port PORT [--baud RATE] --number TEXT\n"
    "      Wakes the modem on PORT, dials TEXT (sent as given after \"ATDT \") and waits\n"
    "      up to 90 s for the modem's answer and again for its connect report. Prints\n"
    "      \"Dialing TEXT\" when the number goes out, then the final status line (the\n"
    "      modem's text with its line breaks as blanks, or \"Could not connect\"). The\n"
    "      line lasts as long as the modem keeps it once the port is closed; download\n"
    "      --dial dials, downloads and hangs up in one run. Exit status: 0 connected;\n"
    "      1 Could not connect; 2 the port could not be opened; 64 TEXT holds more than\n"
    "      a dial string (digits, * # + , ; ! @ W T P, A to D, blanks and - ( ) only).\n",
    40, &runDialCommand}};

const RegisterCommand hangUpRegistration{{
    "hangup",
    "  hangup --port PORT [--baud RATE]\n"
    "      Returns the modem on PORT to command mode (\"+++\"), hangs up (ATH0) and closes\n"
    "      the port; takes about 7 s. Prints \"Hanging up Line\" and \"Okay\". Exit status:\n"
    "      0 done; 2 the port could not be opened.\n",
    41, &runHangUpCommand}};

constexpr int kCouldNotConnect = 1;
constexpr int kPortNotOpen = 2;
// A modem takes "+++" as its escape only after a second or so of silence on the
// line; a download's last request may have gone out just before the hang-up.
constexpr int kEscapeLeadInMs = 1200;

int reportPortNotOpen(MeterLink &link)
{
    std::fprintf(stderr, "ostrand-cli: %s\n", qPrintable(link.serial().port().errorString()));
    return kPortNotOpen;
}

struct LineChoice {
    LinkSettings settings;
    QString device; // empty for a COM number
};

// The options both commands share; nullopt once bad usage has been reported.
std::optional<LineChoice> parseLine(QCommandLineParser &parser, const QStringList &arguments,
                                    const QString &command)
{
    parser.addOption({QStringLiteral("port"), QStringLiteral("COM1 to COM4, or a device path."),
                      QStringLiteral("PORT")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("Line speed."), QStringLiteral("RATE"),
                      QStringLiteral("38400")});
    QString problem;
    if (!parser.parse(arguments))
        problem = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        problem =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    else if (!parser.isSet(QStringLiteral("port")))
        problem = QStringLiteral("%1 needs --port").arg(command);
    else if (!parsePort(parser.value(QStringLiteral("port"))))
        problem = QStringLiteral("--port takes COM1 to COM4 or a device path");
    else if (!isSupportedBaud(parser.value(QStringLiteral("baud"))))
        problem = QStringLiteral("--baud takes 1200, 2400, 4800, 9600, 14400, 19200 or 38400");
    if (!problem.isEmpty()) {
        usageError(problem);
        return std::nullopt;
    }
    const PortChoice port = *parsePort(parser.value(QStringLiteral("port")));
    LineChoice choice;
    choice.settings.portNumber = port.comNumber;
    choice.settings.baudRate = parser.value(QStringLiteral("baud"));
    choice.device = port.devicePath;
    return choice;
}

// The port, the link and the waits the window would use.
struct ModemLine {
    explicit ModemLine(const LineChoice &choice)
        : serialPort(fileLocationsAtStartUp().comLinkDirs())
    {
        serial.setSettings(choice.settings);
        if (!choice.device.isEmpty())
            serialPort.setDeviceOverride(choice.device);
    }
    QtSerialPort serialPort;
    SystemClock clock;
    QtEventPump pump;
    SerialLink serial{serialPort, clock, pump};
    MeterLink link{serial};
};

} // namespace

DialResult dialAndReport(MeterLink &link, EventPump &pump, const QString &number,
                         bool *dialCommandSent)
{
    QString status;
    const QString dialing = ModemDialer::dialingStatus(number);
    ModemDialer dialer(link, pump,
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
        reportPortNotOpen(link);
    else
        printLine(status.simplified());
    return result;
}

void hangUpAndReport(MeterLink &link, EventPump &pump)
{
    QString status;
    ModemDialer dialer(link, pump,
                       DialerView{[&] { return status; },
                                  [&](const QString &text) {
                                      status = text;
                                      printLine(text);
                                  },
                                  [] {}});
    pump.sleep(kEscapeLeadInMs);
    dialer.hangUpModem();
}

int runDialCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("number"), QStringLiteral("What to dial after \"ATDT \"."),
                      QStringLiteral("TEXT")});
    const auto choice = parseLine(parser, arguments, QStringLiteral("dial"));
    if (!choice)
        return kUsageError;
    if (!parser.isSet(QStringLiteral("number")))
        return usageError(QStringLiteral("dial needs --number"));
    const QString number = parser.value(QStringLiteral("number"));
    if (const QString problem = dialStringProblem(number); !problem.isEmpty())
        return usageError(QStringLiteral("--number: %1").arg(problem));
    ModemLine line(*choice);
    bool dialCommandSent = false;
    switch (dialAndReport(line.link, line.pump, number, &dialCommandSent)) {
    case DialResult::Connected:
        return 0;
    case DialResult::PortNotOpen:
        return kPortNotOpen;
    default:
        return kCouldNotConnect;
    }
}

int runHangUpCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const auto choice = parseLine(parser, arguments, QStringLiteral("hangup"));
    if (!choice)
        return kUsageError;
    ModemLine line(*choice);
    // A fresh process finds the port closed, and a hang-up leaves a closed port alone.
    if (!line.serial.openPort())
        return reportPortNotOpen(line.link);
    hangUpAndReport(line.link, line.pump);
    return 0;
}

} // namespace ostrand::cli

#include "cli_common.h"
#include "command_registry.h"
#include "line/line_options.h"
#include "line/meter_line.h"
#include "link/dial_string.h"
#include "modem_report.h"
#include "platform/file_locations.h"

#include <QCommandLineParser>

namespace ostrand::cli {

int runDialCommand(const QStringList &arguments);
int runHangUpCommand(const QStringList &arguments);

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

// The options both commands share; nullopt once bad usage has been reported.
std::optional<LineChoice> parseLine(QCommandLineParser &parser, const QStringList &arguments,
                                    const QString &command)
{
    addLineOptions(parser, kModemLineKeys);
    QString problem;
    std::optional<LineChoice> choice;
    if (!parser.parse(arguments))
        problem = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        problem =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    else
        choice = lineChoiceFrom(parser, kModemLineKeys, command, &problem);
    // A modem is dialled through a serial port; a device server is reached without one.
    if (choice && !choice->networkAddress.isEmpty()) {
        problem = QStringLiteral("%1 takes a modem's serial port: COM1 to COM4 or a device path").arg(command);
        choice.reset();
    }
    if (!choice)
        usageError(problem);
    return choice;
}

} // namespace

int runDialCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("number"), QStringLiteral("What to dial after \"ATDT \"."),
                      QStringLiteral("TEXT")});
    const auto choice = parseLine(parser, arguments, QStringLiteral("dial"));
    if (!choice)
        return code(ExitStatus::Usage);
    if (!parser.isSet(QStringLiteral("number")))
        return usageError(QStringLiteral("dial needs --number"));
    const QString number = parser.value(QStringLiteral("number"));
    if (const QString problem = dialStringProblem(number); !problem.isEmpty())
        return usageError(QStringLiteral("--number: %1").arg(problem));
    MeterLine line(fileLocationsAtStartUp().comLinkDirs(), *choice);
    bool dialCommandSent = false;
    switch (dialAndReport(line, number, &dialCommandSent)) {
    case DialResult::Connected:
        return code(ExitStatus::Done);
    case DialResult::PortNotOpen:
        return code(ExitStatus::PortNotOpen);
    default:
        return code(ExitStatus::CouldNotConnect);
    }
}

int runHangUpCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    const auto choice = parseLine(parser, arguments, QStringLiteral("hangup"));
    if (!choice)
        return code(ExitStatus::Usage);
    MeterLine line(fileLocationsAtStartUp().comLinkDirs(), *choice);
    // A fresh process finds the port closed, and a hang-up leaves a closed port alone.
    if (!line.serial().openPort())
        return reportPortNotOpen(line);
    hangUpAndReport(line);
    return code(ExitStatus::Done);
}

} // namespace ostrand::cli

#include "cli_common.h"
#include "command_registry.h"
#include "download/download_display.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "line/line_options.h"
#include "line/meter_line.h"
#include "link/dial_string.h"
#include "modem_report.h"
#include "platform/file_locations.h"
#include "table/grid_state.h"
#include "table/results_grid.h"

#include <QCommandLineParser>
#include <cstdio>
#include <unistd.h>

namespace ostrand::cli {

int runDownloadCommand(const QStringList &arguments);

namespace {

// Status texts to stdout, one a line; progress to stderr only when someone watches it.
class ConsoleDisplay : public DownloadDisplay {
public:
    ConsoleDisplay() : showProgress_(isatty(STDERR_FILENO)) {}
    ~ConsoleDisplay() override
    {
        if (progressShown_)
            std::fputc('\n', stderr);
    }
    void setStatus(const QString &text) override
    {
        if (progressShown_) {
            std::fputc('\n', stderr);
            progressShown_ = false;
        }
        printLine(text);
    }
    void setProgress(int percent) override
    {
        if (!showProgress_)
            return;
        std::fprintf(stderr, "\r%3d%%", percent);
        progressShown_ = true;
    }
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &text) override
    {
        if (progressShown_) {
            std::fputc('\n', stderr);
            progressShown_ = false;
        }
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }

private:
    bool showProgress_;
    bool progressShown_ = false;
};

const RegisterCommand registration{{
    "download",
    "  download --port PORT [--baud RATE] [--slave ID] [--since-last [--append]]\n"
    "           [--portable] [--output FILE] [--dial NUMBER] [--reply-timeout MS]\n"
    "           [--connect-timeout MS]\n"
    "      Downloads the meter's log into FILE (default Logdata.csv), then tells the\n"
    "      meter the download was stored. RATE: 1200 2400 4800 9600 14400 19200 38400\n"
    "      (default 38400). ID: slave address 0 to 255 (default 1). --since-last reads\n"
    "      only what was logged after the last download and replaces FILE with it;\n"
    "      with --append its rows go under those FILE holds (every row, whatever its\n"
    "      stamp; FILE's headings must be the download's, else nothing is written or\n"
    "      confirmed: exit 3). --portable reads an R1900 Portable. Prints each status line as the window shows it; progress goes to\n"
    "      stderr when that is a terminal. --dial first dials NUMBER through the modem\n"
    "      on PORT as the dial command does (the same characters only), downloads\n"
    "      over the connection and then hangs up. --reply-timeout lets each reply take\n"
    "      up to MS milliseconds (a modem or radio path) before the request is sent\n"
    "      again or given up; the meter's own timings stay the shortest (default 0:\n"
    "      only those). A pipe as FILE needs a program reading it: without one the\n"
    "      download is refused before the meter is asked. Exit status: 0 Finished.\n"
    "      Data in File; 1 0 Records Available; 3 Error putting into file!!; 4 Error\n"
    "      in Downloading!!; 5 the dial did not connect (nothing downloaded; a number\n"
    "      already dialled is hung up).\n",
    10, &runDownloadCommand}};

} // namespace

int runDownloadCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    addLineOptions(parser, kMeterLineKeys);
    parser.addOption({QStringLiteral("since-last"), QStringLiteral("Only records since the last download.")});
    parser.addOption({QStringLiteral("append"), QStringLiteral("With --since-last: add the rows to FILE.")});
    parser.addOption({QStringLiteral("portable"), QStringLiteral("R1900 Portable register layout.")});
    parser.addOption({QStringLiteral("output"), QStringLiteral("CSV file to write."), QStringLiteral("FILE"),
                      QStringLiteral("Logdata.csv")});
    parser.addOption({QStringLiteral("dial"), QStringLiteral("Dial through the modem first."), QStringLiteral("NUMBER")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    QString problem;
    const auto choice = lineChoiceFrom(parser, kMeterLineKeys, QStringLiteral("download"), &problem);
    if (!choice)
        return usageError(problem);
    const QString output = parser.value(QStringLiteral("output"));
    if (output.isEmpty())
        return usageError(QStringLiteral("--output needs a file name"));
    // A whole log added to a file would hold its rows twice.
    const bool append = parser.isSet(QStringLiteral("append"));
    if (append && !parser.isSet(QStringLiteral("since-last")))
        return usageError(QStringLiteral("--append needs --since-last"));
    if (const QString dialProblem = dialStringProblem(parser.value(QStringLiteral("dial")));
        !dialProblem.isEmpty())
        return usageError(QStringLiteral("--dial: %1").arg(dialProblem));
    if (parser.isSet(QStringLiteral("dial")) && !choice->networkAddress.isEmpty())
        return usageError(QStringLiteral("--dial takes a modem's serial port, not a device server (%1)")
                              .arg(choice->networkAddress));

    MeterLine line(fileLocationsAtStartUp().comLinkDirs(), *choice);
    ResultsGrid grid;
    GridState state;
    ConsoleDisplay display;

    DownloadOptions options;
    options.sinceLastTime = parser.isSet(QStringLiteral("since-last"));
    options.portableMeter = parser.isSet(QStringLiteral("portable"));
    options.slave = choice->slave;

    // Before the modem or the meter is asked anything.
    if (!checkOutputBeforeStart(output, display))
        return code(ExitStatus::FileFailed);

    const bool viaModem = parser.isSet(QStringLiteral("dial"));
    if (viaModem) {
        bool dialCommandSent = false;
        if (dialAndReport(line, parser.value(QStringLiteral("dial")), &dialCommandSent)
            != DialResult::Connected) {
            // A modem still dialling would otherwise keep the line once we are gone.
            if (dialCommandSent)
                hangUpAndReport(line);
            return code(ExitStatus::DialFailed);
        }
    }

    display.setStatus(options.sinceLastTime ? QStringLiteral("Last Time Downloading") : QStringLiteral("Downloading"));
    DownloadEngine engine(line.link(), grid, state, display);
    const DownloadResult result = engine.downloadLog(options);
    const DownloadEnd end = finishDownload(result, grid, state, output, display,
                                           [&] { engine.confirmDownload(); },
                                           append ? OutputWrite::Append : OutputWrite::Replace);
    if (viaModem)
        hangUpAndReport(line);
    line.close();
    return code(exitStatusFor(end.result, end.fileFailed));
}

} // namespace ostrand::cli

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
#include <algorithm>
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
            shownWidth_ = 0;
        }
        printLine(text);
    }
    void setProgress(int percent) override
    {
        if (!showProgress_)
            return;
        // The time left comes and goes: blanks cover a longer text shown before.
        const QString line = percent >= 100 || timeLeft_.isEmpty()
                                 ? QStringLiteral("%1%").arg(percent, 3)
                                 : QStringLiteral("%1%  %2").arg(percent, 3).arg(timeLeft_);
        std::fprintf(stderr, "\r%-*s", static_cast<int>(std::max(line.size(), shownWidth_)), qPrintable(line));
        shownWidth_ = line.size();
        progressShown_ = true;
    }
    void setTimeLeft(const QString &text) override { timeLeft_ = text; }
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &text) override
    {
        if (progressShown_) {
            std::fputc('\n', stderr);
            progressShown_ = false;
            shownWidth_ = 0;
        }
        std::fprintf(stderr, "%s\n", qPrintable(text));
    }

private:
    bool showProgress_;
    bool progressShown_ = false;
    QString timeLeft_;
    qsizetype shownWidth_ = 0;
};

const RegisterCommand registration{{
    "download",
    "  download --port PORT [--baud RATE] [--slave ID] [--since-last [--append]]\n"
    "           [--portable] [--output FILE] [--dial NUMBER] [--reply-timeout MS]\n"
    "           [--connect-timeout MS] [--request-gap MS] [--echo]\n"
    "      Downloads the meter's log into FILE (default Logdata.csv), then tells the\n"
    "      meter the download was stored, and adds to FILE what the meter logged\n"
    "      before that reached it (the meter counts it as stored too: where its\n"
    "      last download ends is read back). RATE: 1200 2400 4800 9600 14400 19200 38400\n"
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
    "      only those). --request-gap waits MS milliseconds (0 to 1000, default 0)\n"
    "      between a reply and the next request, for a device that needs a pause.\n"
    "      --echo: the adapter returns every byte sent (2-wire RS-485); the request's\n"
    "      own bytes are taken off the line before the reply. A FILE that holds data\n"
    "      is first kept as FILE.N (N the lowest free of 1 to 9; with nine kept the\n"
    "      oldest gives way), said on stderr; --append keeps none. A pipe as FILE needs\n"
    "      a program reading it: without one the download is refused before the\n"
    "      meter is asked. Exit status: 0 Finished.\n"
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
                                           [&] { return engine.confirmDownloadAndReadTail(); },
                                           append ? OutputWrite::Append : OutputWrite::Replace);
    if (viaModem)
        hangUpAndReport(line);
    line.close();
    return code(exitStatusFor(end.result, end.fileFailed));
}

} // namespace ostrand::cli

// ostrand-cli: the download, the Palm conversion, the display and the dialer
// without the window, for scheduled and scripted work.
#include "cli_common.h"
#include "download_command.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

const char kHelp[] =
    "Usage: ostrand-cli COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  download --port PORT [--baud RATE] [--slave ID] [--since-last] [--portable]\n"
    "           [--output FILE]\n"
    "      Downloads the meter's log into FILE (default Logdata.csv), then tells the\n"
    "      meter the download was stored. PORT is COM1 to COM4 (as the window resolves\n"
    "      them: a COMn link beside the program, else /dev/ttyS0 to /dev/ttyS3) or a\n"
    "      device path. RATE: 1200 2400 4800 9600 14400 19200 38400 (default 38400).\n"
    "      ID: slave address 0 to 255 (default 1). --since-last reads only what was\n"
    "      logged after the last download; --portable reads an R1900 Portable.\n"
    "      Prints each status line as the window shows it; progress goes to stderr\n"
    "      when that is a terminal.\n"
    "      Exit status: 0 Finished. Data in File; 1 0 Records Available;\n"
    "      3 Error putting into file!!; 4 Error in Downloading!!; 64 bad usage.\n";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrand-cli"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return ostrand::cli::usageError(QStringLiteral("a command is needed"));
    const QString command = args.at(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    // QCommandLineParser expects the program name first.
    QStringList rest = args.mid(2);
    rest.prepend(args.at(0));
    if (command == QLatin1String("download"))
        return ostrand::cli::runDownloadCommand(rest);
    return ostrand::cli::usageError(QStringLiteral("unknown command '%1'").arg(command));
}

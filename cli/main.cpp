// ostrand-cli: the download, the Palm conversion, the display and the dialer
// without the window, for scheduled and scripted work.
#include "cli_common.h"
#include "command_registry.h"
#include "ostrand_version.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstring>
#include <memory>
#include <cstdio>
#include <csignal>

namespace {

void printHelp()
{
    std::fputs("Usage: ostrand-cli COMMAND [OPTIONS]\n\nCommands:\n", stdout);
    for (const auto &command : ostrand::cli::registeredCommands()) {
        std::fputs(command.help, stdout);
        std::fputc('\n', stdout);
    }
    std::fputs("PORT is COM1 to COM4 (resolved as the window resolves them: a COMn link in\n"
               "~/.config/ostrand-download/ when the program's folder is not writable, else beside\n"
               "the program, else /dev/ttyS0 to /dev/ttyS3), a device path, or a meter behind a\n"
               "device server: tcp://HOST:PORT (raw RTU frames) or rfc2217://HOST:PORT (Telnet\n"
               "with COM-port control, which also sets the server's serial port to RATE, 8N1).\n"
               "--connect-timeout MS (default 10000) bounds connecting to a device server; a\n"
               "connection dropped mid-operation is made again up to three times within 30 s.\n"
               "Bad usage exits with 64. --version prints the version.\n",
               stdout);
}

// Qt Gui looks for a runtime folder a scheduled run often lacks, and says so
// on every report; it needs none for drawing pages, so that line is left out.
void withoutRuntimeFolderNotice(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    std::fputs(qPrintable(qFormatLogMessage(type, context, message)), stderr);
    std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char **argv)
{
    // The report draws its pages with Qt Gui's fonts and painters, off-screen: it never
    // needs a display, and a scheduled run has none.
    const bool drawsPages = argc > 1 && std::strcmp(argv[1], "report") == 0;
    if (drawsPages) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(withoutRuntimeFolderNotice);
    }
    const std::unique_ptr<QCoreApplication> app = drawsPages
        ? std::make_unique<QGuiApplication>(argc, argv)
        : std::make_unique<QCoreApplication>(argc, argv);
    // Past a file-size limit (ulimit -f) the kernel would kill us mid-write;
    // ignored, the write fails with EFBIG and the old file is kept with a reason.
    std::signal(SIGXFSZ, SIG_IGN);
    // A pipe's reader that goes away mid-write would kill us without a word;
    // ignored, the write fails with "Broken pipe" and the meter is not told.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication::setApplicationName(QStringLiteral("ostrand-cli"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return ostrand::cli::usageError(QStringLiteral("a command is needed"));
    const QString name = args.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        printHelp();
        return 0;
    }
    if (name == QLatin1String("--version")) {
        std::printf("ostrand-cli %s (Qt %s)\n", OSTRAND_VERSION, qVersion());
        return 0;
    }
    // QCommandLineParser expects the program name first.
    QStringList rest = args.mid(2);
    rest.prepend(args.at(0));
    for (const auto &command : ostrand::cli::registeredCommands()) {
        if (name == QLatin1String(command.name))
            return command.run(rest);
    }
    return ostrand::cli::usageError(QStringLiteral("unknown command '%1'").arg(name));
}

#include "app/main_window.h"
#include "ostrand_version.h"
#include "platform/file_locations.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <cstring>
#include <csignal>

int main(int argc, char **argv)
{
    // Answered before QApplication, which would need a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("ostrand-download %s (Qt %s)\n", OSTRAND_VERSION, qVersion());
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: ostrand-download [--version] [--help]\n\n"
                        "Opens the Ostrand Download window: downloads a flow meter's data log over\n"
                        "a serial line, converts Palm handheld logs, mirrors the meter's display\n"
                        "and dials meters through a modem. Settings are kept in 7700dwn.ini beside\n"
                        "the program when that folder is writable or already holds one, otherwise\n"
                        "in ~/.config/ostrand-download/.\n");
            return 0;
        }
    }
    QApplication app(argc, argv);
    // Past a file-size limit (ulimit -f) the kernel would kill us mid-write;
    // ignored, the write fails with EFBIG and the old file is kept with a reason.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("Ostrand Download"));

    // Beside the program when it may write there (a build folder, a USB stick),
    // else per user: an installed program cannot write in /usr/bin.
    const ostrand::FileLocations locations = ostrand::fileLocationsAtStartUp();
    if (!locations.portable)
        QDir().mkpath(locations.settingsDir);
    ostrand::QtSerialPort port(locations.comLinkDirs());
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    ostrand::QtFileDialogs dialogs(nullptr);

    // The line's own port, made on the line's thread; `port` above is never opened.
    const QStringList comLinkDirs = locations.comLinkDirs();
    ostrand::MainWindow window(locations, {port, clock, pump, dialogs, [comLinkDirs] {
                                               return std::make_unique<ostrand::QtSerialPort>(comLinkDirs);
                                           }});
    window.load();
    window.show();
    return app.exec();
}

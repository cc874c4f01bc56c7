#include "app/dwnload1.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_file_dialogs.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"

#include <QApplication>
#include <csignal>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Past a file-size limit (ulimit -f) the kernel would kill us mid-write;
    // ignored, the write fails with EFBIG and the old file is kept with a reason.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication::setApplicationName(QStringLiteral("Ostrand Download"));

    // Settings and COMn links live beside the program, wherever it was started from.
    const QString programDir = QCoreApplication::applicationDirPath();
    ostrand::QtSerialPort port(programDir);
    ostrand::SystemClock clock;
    ostrand::QtEventPump pump;
    ostrand::QtFileDialogs dialogs(nullptr);

    ostrand::DwnLoad1 window(programDir, {port, clock, pump, dialogs});
    window.Form_Load();
    window.show();
    return app.exec();
}

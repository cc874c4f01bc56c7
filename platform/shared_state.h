#pragma once

#include <QString>

namespace ostrand {

// The process-wide choices that the link and the file operations read. The
// window's handlers keep them in step with its controls; the rest of the
// program receives them by reference instead of reading widgets.
struct SharedState {
    qint16 CommPortNumber = 0; // COM port 1 to 4; 0 until a setting or a click chose one
    QString BaudRateText;      // "1200" ... "38400"
    qint16 SlaveId = 0;        // Modbus slave address, sent as one byte
    QString DownloadFileName;  // output file, bare name or full path
    QString PalmDatabasePath;  // the handheld's database file
};

} // namespace ostrand

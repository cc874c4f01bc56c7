#include "station_collector.h"

#include "collect/cumulative_csv.h"
#include "collect/output_guard.h"
#include "download/download_display.h"
#include "download/download_engine.h"
#include "download/download_outcome.h"
#include "download/grid_state.h"
#include "download/output_file.h"
#include "download/results_grid.h"
#include "link/meter_link.h"
#include "link/modem_dialer.h"
#include "link/serial_link.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/save_file.h"
#include "platform/system_clock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace ostrand::collect {
namespace {

// A modem takes "+++" as its escape only after a second or so of silence on the line.
constexpr int kEscapeLeadInMs = 1200;

// Keeps what the engine would have shown: the last status and the reasons beside it.
class QuietDisplay : public DownloadDisplay {
public:
    void setStatus(const QString &text) override { status = text; }
    void setProgress(int) override {}
    void setRecordsUsed(const QString &) override {}
    void setRecordsAvailable(const QString &) override {}
    void setChannelLabel(int, const QString &) override {}
    void showDetail(const QString &text) override { details << text; }

    // The status with its reasons, as one error text.
    QString failure() const
    {
        return details.isEmpty() ? status : status + QStringLiteral(" (") + details.join(QStringLiteral("; ")) + u')';
    }

    QString status;
    QStringList details;
};

} // namespace

struct PortCollector::Line {
    explicit Line(const QStringList &linkDirs) : port(linkDirs) {}
    QtSerialPort port;
    SystemClock clock;
    QtEventPump pump;
    SerialLink serial{port, clock, pump};
    MeterLink link{serial};
};

PortCollector::PortCollector(const CollectOptions &options)
    : options_(options), line_(std::make_unique<Line>(options.comLinkDirs))
{
}

PortCollector::~PortCollector() = default;

StationReport PortCollector::collect(const Station &station)
{
    StationReport report;
    report.name = station.name;
    QElapsedTimer timer;
    timer.start();
    bool retryable = true;
    while (!attempt(station, report, &retryable) && retryable && report.attempts <= options_.retries)
        line_->pump.sleep(options_.retryPauseMs);
    report.seconds = timer.elapsed() / 1000.0;
    return report;
}

bool PortCollector::attempt(const Station &station, StationReport &report, bool *retryable)
{
    ++report.attempts;
    line_->port.setDeviceOverride(station.devicePath);
    line_->serial.setSettings({station.comNumber, station.baud, station.slave});
    if (!station.dial.isEmpty()) {
        QString status;
        bool dialSent = false;
        ModemDialer dialer(line_->link, line_->pump,
                           DialerView{[&] { return status; }, [&](const QString &text) { status = text; },
                                      [&] { dialSent = true; }});
        const DialResult dialled = dialer.dialModem(station.dial);
        if (dialled != DialResult::Connected) {
            report.errors << (dialled == DialResult::PortNotOpen
                                  ? line_->port.errorString()
                                  : QStringLiteral("the dial did not connect: %1").arg(status.simplified()));
            // A modem still dialling would otherwise keep the line for the next station.
            if (dialSent)
                hangUp();
            line_->port.close();
            return false;
        }
    }
    report.succeeded = download(station, report, retryable);
    if (!station.dial.isEmpty())
        hangUp();
    line_->port.close();
    return report.succeeded;
}

bool PortCollector::download(const Station &station, StationReport &report, bool *retryable)
{
    QuietDisplay display;
    if (!checkStationOutputBeforeStart(station.output, display)) {
        *retryable = false;
        report.errors << display.failure();
        return false;
    }
    ResultsGrid grid;
    GridState state;
    DownloadEngine engine(line_->link, grid, state, display);
    DownloadOptions options;
    options.slave = station.slave;
    options.portableMeter = station.portable;
    // Without the file the meter's earlier downloads went elsewhere: all of it is wanted.
    const bool exists = QFileInfo::exists(station.output);
    options.sinceLastTime = exists;
    const DownloadResult result = engine.downloadLog(options);
    if (result == DownloadResult::NoRecords)
        return true;
    if (result != DownloadResult::Complete) {
        display.setStatus(downloadStatusText(result));
        report.errors << display.failure();
        return false;
    }

    QByteArray existing;
    QString error;
    if (exists && !readCumulativeFile(station.output, &existing, &error)) {
        report.errors << QStringLiteral("Error putting into file!! (%1)").arg(error);
        return false;
    }
    const CsvAppend added = appendRows(existing, outputFileBytes(grid, state));
    // The old file is copied aside, not moved: killed in between, the next run
    // finds it where it was and sets it aside again.
    const bool saved =
        (!added.headingsChanged
         || saveArchive(station.output, QDateTime::currentDateTime(), existing, &error))
        && (exists && added.newRows == 0 && !added.headingsChanged ? true
                                                                    : saveCumulativeFile(station.output, added.bytes, &error));
    if (!saved) {
        report.errors << QStringLiteral("Error putting into file!! (%1)").arg(error);
        return false;
    }
    report.newRows = added.newRows;
    // Only now that the rows are on disk may the meter forget them.
    display.details.clear();
    engine.confirmDownload();
    report.errors << display.details;
    return true;
}

void PortCollector::hangUp()
{
    QString status;
    ModemDialer dialer(line_->link, line_->pump,
                       DialerView{[&] { return status; }, [&](const QString &text) { status = text; }, [] {}});
    line_->pump.sleep(kEscapeLeadInMs);
    dialer.hangUpModem();
}

} // namespace ostrand::collect

#include "station_worker.h"

#include "callin/call_in_lines.h"
#include "callin/call_in_port.h"
#include "line/meter_line.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"

#include <limits>

namespace ostrand::callin {
namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
// Between two looks at the line while nothing is due: heartbeats are read, a stop seen.
constexpr int kIdleSliceMs = 1000;
// A station another collector or run holds now is asked for again after this.
constexpr std::int64_t kHeldRetryMs = 5000;
// "Last heard" is told at most this often: heartbeats may come every second.
constexpr std::int64_t kHeardNewsMs = 60000;

} // namespace

StationWorker::StationWorker(collect::Station station, collect::CollectOptions options,
                             const std::atomic<bool> &stop, StationNews news)
    : station_(std::move(station)), options_(std::move(options)), stop_(stop), news_(std::move(news))
{
    // A few hundred kilobytes hold a collection; a thousand stations must not reserve 8 MB each.
    thread_.reset(QThread::create([this] { run(); }));
    thread_->setStackSize(1024 * 1024);
    thread_->start();
}

StationWorker::~StationWorker()
{
    handover_.wake();
    thread_->wait();
}

void StationWorker::run()
{
    QObject waker;
    handover_.wakeThrough(&waker);
    SystemClock clock;
    QtEventPump pump;
    const collect::CallIn &callIn = *station_.callIn;
    CallInPort port(clock, pump, &stop_, handover_, callIn.heartbeat,
                    callIn.idEveryPacket ? callIn.id : QByteArray(), station_.name);
    MeterLine line(port, clock, pump);
    line.choose(station_.lineChoice);
    line.serial().setStopFlag(&stop_);
    collect::PortCollector collector(options_, std::make_unique<CallInLines>(line));
    const std::int64_t interval = station_.intervalMs >= 0 ? station_.intervalMs : collect::kDefaultCallInIntervalMs;

    std::optional<std::int64_t> lastSuccessMs;
    std::int64_t nextDueMs = kNever;
    std::int64_t heardToldMs = 0;
    bool wasConnected = false;
    const auto tell = [&](bool connected) {
        const std::int64_t now = clock.monotonicMs();
        const qint64 utcNow = clock.utcMs();
        heardToldMs = now;
        if (news_.state)
            news_.state(station_, connected, port.peer(),
                        connected ? utcNow - (now - port.connectedSinceMs()) : utcNow,
                        utcNow - (now - port.lastHeardMs()));
    };
    while (!stop_.load()) {
        if (handover_.waiting() || !port.connected()) {
            const QString before = port.peer();
            if (!port.adopt()) {
                if (wasConnected) {
                    wasConnected = false;
                    tell(false);
                    if (news_.log)
                        news_.log(QStringLiteral("%1: the call from %2 ended").arg(station_.name, before));
                }
                pump.yield(kIdleSliceMs);
                continue;
            }
            if (news_.log)
                news_.log(wasConnected ? QStringLiteral("%1: a newer call from %2 replaces the one from %3")
                                             .arg(station_.name, port.peer(), before)
                                       : QStringLiteral("%1: called in from %2").arg(station_.name, port.peer()));
            wasConnected = true;
            tell(true);
            const std::int64_t now = clock.monotonicMs();
            nextDueMs = lastSuccessMs && interval > 0 && now - *lastSuccessMs < interval ? *lastSuccessMs + interval
                                                                                          : now;
        }
        const std::int64_t now = clock.monotonicMs();
        if (now >= nextDueMs) {
            const collect::StationReport report = collector.collect(station_);
            const std::int64_t after = clock.monotonicMs();
            if (report.succeeded)
                lastSuccessMs = now;
            if (!report.skipped.isEmpty() || report.claimedElsewhere)
                nextDueMs = after + kHeldRetryMs;
            else
                nextDueMs = interval > 0 ? now + interval : kNever;
            if (news_.collected && report.skipped.isEmpty() && !report.claimedElsewhere)
                news_.collected(station_, report);
            continue;
        }
        port.idle();
        if (port.connected() && clock.monotonicMs() - heardToldMs >= kHeardNewsMs)
            tell(true);
        pump.yield(static_cast<int>(std::min<std::int64_t>(kIdleSliceMs, nextDueMs - now)));
    }
    port.close();
    if (wasConnected)
        tell(false);
    handover_.wakeThrough(nullptr);
}

} // namespace ostrand::callin

#include "call_in_service.h"

#include "callin/caller_identification.h"
#include "platform/caller_reception.h"
#include "platform/qt_event_pump.h"
#include "platform/system_clock.h"

namespace ostrand::callin {
namespace {

// How often the listening thread looks for callers that took too long and for a stop.
constexpr int kListenSliceMs = 200;

} // namespace

bool parseListenAddress(const QString &text, QString *host, quint16 *port, QString *problem)
{
    const QString value = text.trimmed();
    const int colon = value.lastIndexOf(u':');
    QString hostPart = colon < 0 ? QString() : value.left(colon);
    if (hostPart.startsWith(u'[') && hostPart.endsWith(u']'))
        hostPart = hostPart.mid(1, hostPart.size() - 2);
    bool ok = false;
    const uint number = value.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || (colon >= 0 && hostPart.isEmpty())) {
        *problem = QStringLiteral("'%1' is no [HOST:]PORT (4100, 0.0.0.0:4100, [::]:4100; 0: one the system picks)").arg(text);
        return false;
    }
    *host = hostPart;
    *port = static_cast<quint16>(number);
    return true;
}

CallInService::CallInService(std::vector<collect::Station> stations, collect::CollectOptions options,
                             StationNews news)
    : stations_(std::move(stations)), options_(std::move(options)), news_(std::move(news))
{
    std::vector<CallerKey> keys;
    std::vector<QByteArray> heartbeats;
    for (size_t i = 0; i < stations_.size(); ++i) {
        const collect::CallIn &callIn = *stations_[i].callIn;
        keys.push_back({static_cast<int>(i), callIn.id, callIn.from});
        if (!callIn.heartbeat.isEmpty())
            heartbeats.push_back(callIn.heartbeat);
    }
    identification_ = std::make_unique<CallerIdentification>(keys, heartbeats);
}

CallInService::~CallInService()
{
    stopping_ = true;
    workers_.clear();
}

bool CallInService::listen(const QString &host, quint16 port, QString *error)
{
    static const SystemClock clock;
    const auto judge = [this](const PendingCaller &caller, bool timedOut) {
        using Kind = CallerIdentification::Verdict::Kind;
        const CallerIdentification::Verdict verdict =
            timedOut ? identification_->onTimeout(caller.bytes, caller.address)
            : caller.bytes.isEmpty() ? identification_->onConnect(caller.address)
                                     : identification_->onBytes(caller.bytes, caller.address);
        // The station's thread reads on from what followed the registration.
        if (verdict.kind == Kind::Known)
            return CallerVerdict{CallerVerdict::Kind::Take, verdict.station, {}, verdict.rest};
        if (verdict.kind == Kind::Refused)
            return CallerVerdict{CallerVerdict::Kind::Refuse, -1, verdict.reason, {}};
        return CallerVerdict{};
    };
    const auto taken = [this](PendingCaller caller, int station) {
        auto &worker = workers_[station];
        if (!worker)
            worker = std::make_unique<StationWorker>(stations_[station], options_, stopping_, news_);
        worker->offer(std::move(caller));
    };
    const auto refused = [this](const PendingCaller &caller, const QString &reason) {
        if (news_.log)
            news_.log(QStringLiteral("refused a call from %1: %2").arg(caller.peer, reason));
    };
    reception_ = std::make_unique<CallerReception>(clock, CallerReception::Limits{}, judge, taken, refused);
    if (!reception_->listen(host, port)) {
        *error = reception_->errorString();
        return false;
    }
    return true;
}

quint16 CallInService::port() const
{
    return reception_ ? reception_->port() : 0;
}

void CallInService::run(const std::atomic<bool> &stop)
{
    QtEventPump pump;
    while (!stop.load()) {
        pump.yield(kListenSliceMs);
        reception_->expire();
    }
    reception_->close();
    stopping_ = true;
    for (auto &[station, worker] : workers_)
        worker->wake();
    for (auto &[station, worker] : workers_)
        worker->wait();
}

} // namespace ostrand::callin

#include "call_in_fleet.h"

#include "meter_setup.h"

namespace ostrand::sim {

namespace {

// Descriptors beyond one socket per meter: standard streams, the event loop's own, the
// signal pipe.
constexpr int kSpareFiles = 64;

} // namespace

CallInFleet::CallInFleet(const SimOptions &options, const QDateTime &now, Printer say,
                         Printer trace, QObject *parent)
    : QObject(parent), options_(options), now_(now), say_(std::move(say)), trace_(std::move(trace))
{
    spreadTimer_.setSingleShot(true);
    connect(&spreadTimer_, &QTimer::timeout, this, &CallInFleet::startNext);
    if (options_.logEverySeconds > 0) {
        liveLogTimer_.setInterval(options_.logEverySeconds * 1000);
        connect(&liveLogTimer_, &QTimer::timeout, this, &CallInFleet::logNextInstant);
    }
}

CallInFleet::~CallInFleet()
{
    stop();
}

bool CallInFleet::start(QString *error)
{
    const CallInSettings &settings = options_.callIn;
    if (!allowOpenFiles(settings.meters + kSpareFiles, error))
        return false;
    QList<SocketAddress> addresses;
    if (!resolveAddresses(settings.addresses, &addresses, error))
        return false;
    const bool many = settings.meters > 1;
    for (int k = 0; k < settings.meters; ++k) {
        SimOptions one = options_;
        one.meterNumber = options_.meterNumber + k;
        MeterContents contents;
        if (!makeContents(one, now_, &contents, error))
            return false;
        routers_ << new CallInRouter(one, contents, addresses, many, say_, trace_, this);
    }
    if (options_.logEverySeconds > 0)
        liveLogTimer_.start();
    spreadStart_.start();
    startNext();
    return true;
}

void CallInFleet::startNext()
{
    // Meter i's first connect is due i / N of the spread after the start.
    const int total = int(routers_.size());
    const qint64 spread = options_.callIn.connectSpreadMs;
    while (started_ < total) {
        routers_.at(started_)->start();
        ++started_;
        if (started_ < total && spread > 0) {
            const qint64 due = spread * started_ / total;
            if (due > spreadStart_.elapsed()) {
                spreadTimer_.start(int(due - spreadStart_.elapsed()));
                return;
            }
        }
    }
    QStringList addresses;
    for (const CallInAddress &address : options_.callIn.addresses)
        addresses << address.text();
    say_(QStringLiteral("ready call-in %1").arg(addresses.join(QLatin1Char(','))));
}

void CallInFleet::stop()
{
    spreadTimer_.stop();
    liveLogTimer_.stop();
    for (CallInRouter *router : std::as_const(routers_))
        router->stop();
}

void CallInFleet::logNextInstant()
{
    for (CallInRouter *router : std::as_const(routers_))
        router->service().logNextInstant();
}

} // namespace ostrand::sim

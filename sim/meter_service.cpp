#include "meter_service.h"

#include "crc16.h"
#include "modbus_frame.h"

#include <QTimer>

namespace ostrand::sim {

MeterService::MeterService(const SimOptions &options, const MeterContents &contents,
                           const QString &name, QObject *parent)
    : QObject(parent), options_(options), contents_(contents), name_(name), faults_(options.faults)
{
    clock_.start();
    meter_ = makeMeter(options_, contents_, meterNow());
    // The log holds them now; a thousand meters need not keep a second copy each.
    contents_.records = {};
}

MeterService::~MeterService() = default;

void MeterService::setPrinters(Printer say, Printer trace)
{
    say_ = std::move(say);
    trace_ = std::move(trace);
}

QDateTime MeterService::meterNow() const
{
    // The meter's clock shows local wall time and knows nothing of zones.
    const QDateTime now = QDateTime::currentDateTime();
    return QDateTime(now.date(), now.time(), Qt::UTC);
}

void MeterService::trace(const QString &line) const
{
    if (!trace_)
        return;
    const QString stamp = QStringLiteral("[%1] ").arg(nowMs() / 1000.0, 9, 'f', 3);
    trace_(name_.isEmpty() ? stamp + line : stamp + name_ + QLatin1String(": ") + line);
}

void MeterService::newLine()
{
    ++generation_;
    framer_.reset();
    faults_.newLine();
}

void MeterService::receive(const QByteArray &bytes, qint64 quietMs)
{
    if (bytes.isEmpty())
        return;
    const qint64 discardedBefore = framer_.discardedBytes();
    if (!framer_.midFrame())
        quietBeforeRequestMs_ = quietMs;
    // The adapter hears its own transmitter: what the master sends comes back
    // ahead of anything the meter says.
    if (options_.echo && sink_) {
        trace(QStringLiteral("echo -> %1").arg(QString::fromLatin1(hexText(bytes))));
        sink_(bytes, -1);
    }
    const QList<QByteArray> frames = framer_.feed(bytes, nowMs());
    const qint64 discarded = framer_.discardedBytes() - discardedBefore;
    if (discarded > 0)
        trace(QStringLiteral("skipped %1 byte(s) that make no request").arg(discarded));
    for (const QByteArray &frame : frames)
        answer(frame);
}

void MeterService::answer(const QByteArray &frame)
{
    trace(QStringLiteral("<- %1").arg(QString::fromLatin1(hexText(frame))) +
          (quietBeforeRequestMs_ < 0
               ? QString()
               : QStringLiteral("  (%1 ms quiet before it)").arg(quietBeforeRequestMs_)));
    const auto refusal = options_.faults.refusals.constFind(byteAt(frame, 1));
    if (byteAt(frame, 0) == meter_->slaveAddress() && refusal != options_.faults.refusals.cend()) {
        // A slave without the function answers with an exception and does nothing.
        QByteArray exception;
        exception.append(frame.at(0)).append(static_cast<char>(byteAt(frame, 1) | 0x80));
        exception.append(static_cast<char>(refusal.value()));
        appendCrc(exception);
        trace(QStringLiteral("   refused with exception %1").arg(refusal.value()));
        deliver(FaultOutcome{exception, -1, QString()}, generation_);
        return;
    }
    const Reply reply = meter_->respond(frame, meterNow());
    if (!reply.addressed) {
        trace(QStringLiteral("   not for this meter (slave %1)").arg(byteAt(frame, 0)));
        return;
    }
    if (reply.confirmed && say_)
        say_(name_.isEmpty() ? QStringLiteral("confirmed") : QStringLiteral("confirmed ") + name_);
    const FaultOutcome outcome = faults_.apply(reply);
    if (!outcome.note.isEmpty())
        trace(QStringLiteral("   %1").arg(outcome.note));
    if (outcome.bytes.isEmpty())
        return;
    const int generation = generation_;
    if (options_.faults.delayMs > 0) {
        QTimer::singleShot(options_.faults.delayMs, this,
                           [this, outcome, generation] { deliver(outcome, generation); });
    } else {
        deliver(outcome, generation);
    }
}

void MeterService::deliver(const FaultOutcome &outcome, int generation)
{
    // A reply meant for a line that has dropped since goes nowhere.
    if (generation != generation_ || !sink_)
        return;
    trace(QStringLiteral("-> %1").arg(QString::fromLatin1(hexText(outcome.bytes))));
    sink_(outcome.bytes, outcome.dropAfter);
}

void MeterService::logNextInstant()
{
    const QDateTime now = meterNow();
    const QDateTime stamp =
        contents_.lastStamp.isValid()
            ? contents_.lastStamp.addSecs(qint64(meter_->intervalMinutes()) * 60)
            : QDateTime(now.date(), QTime(now.time().hour(), now.time().minute()), Qt::UTC);
    if (!isStorableStamp(stamp))
        return;
    if (!contents_.logStart.isValid())
        contents_.logStart = stamp;
    const QVector<LogRecord> records =
        contents_.survey ? contents_.survey->recordsAt(stamp)
                         : recordsAt(contents_.channels, stamp, contents_.logStart,
                                     options_.meterNumber);
    for (const LogRecord &record : records)
        meter_->log().append(record);
    contents_.lastStamp = stamp;
    trace(QStringLiteral("logged %1; end pointer now %2")
              .arg(stamp.toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                   toText(meter_->log().endPointer())));
}

} // namespace ostrand::sim

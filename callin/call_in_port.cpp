#include "call_in_port.h"

#include "platform/accepted_port.h"
#include "platform/clock.h"
#include "platform/pumped_wait.h"

#include <QTcpSocket>
#include <unistd.h>

namespace ostrand::callin {

CallInPort::CallInPort(const Clock &clock, EventPump &pump, const std::atomic<bool> *stopFlag,
                       CallerHandover &handover, QByteArray heartbeat, QByteArray prefix, QString stationName)
    : clock_(clock), pump_(pump), stopFlag_(stopFlag), handover_(handover), heartbeat_(std::move(heartbeat)),
      prefix_(std::move(prefix)), station_(std::move(stationName))
{
}

CallInPort::~CallInPort() = default;

bool CallInPort::adopt()
{
    std::optional<PendingCaller> caller = handover_.take();
    if (!caller)
        return false;
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->setSocketDescriptor(caller->descriptor)) {
        ::close(caller->descriptor);
        error_ = QStringLiteral("call from %1 for %2 could not be taken: %3")
                     .arg(caller->peer, station_, socket->errorString());
        return false;
    }
    connection_ = std::make_unique<AcceptedPort>(std::move(socket), QStringLiteral("this collector"));
    linkOpened_ = false;
    superseded_ = false;
    peer_ = connection_->peerAddress();
    // Each connection starts clean: nothing of an earlier one's reply counts in it.
    filter_ = std::make_unique<ReplyFilter>(heartbeat_, prefix_);
    connectedSinceMs_ = lastHeardMs_ = clock_.monotonicMs();
    filter_->feed(caller->bytes, lastHeardMs_);
    error_.clear();
    return true;
}

bool CallInPort::connected() const
{
    return connection_ && connection_->isOpen();
}


void CallInPort::pull()
{
    if (!connection_)
        return;
    const int count = connection_->receivedCount();
    const std::int64_t now = clock_.monotonicMs();
    // A router calls again when its connection died unnoticed: one quiet
    // while a newer call waits is that dead one, and the exchange under way
    // moves to the newer call rather than waiting its whole time out.
    if (count <= 0 && connection_->isOpen() && handover_.waiting() && now - lastHeardMs_ >= kQuietBeforeNewerMs) {
        connection_->close();
        superseded_ = true;
        return;
    }
    if (count <= 0)
        return;
    lastHeardMs_ = clock_.monotonicMs();
    filter_->feed(connection_->read(count), lastHeardMs_);
}

void CallInPort::idle()
{
    pull();
    if (filter_)
        filter_->take(filter_->available(clock_.monotonicMs()), clock_.monotonicMs());
}

bool CallInPort::isOpen() const
{
    // Open once the link opened it, so the link counts each new connection as the line opened again.
    return connected() && linkOpened_ && !handover_.waiting();
}

bool CallInPort::open(int portNumber, const QString &baudText)
{
    (void)portNumber;
    (void)baudText;
    if (isOpen())
        return true;
    if ((connected() && !handover_.waiting()) || adopt())
        return linkOpened_ = true;
    // The router calls back by itself after a drop, often within seconds.
    const PumpedWait waited = waitPumped(
        clock_, pump_, stopFlag_, [this] { return handover_.waiting(); }, clock_.monotonicMs() + kCallBackWaitMs);
    if (waited == PumpedWait::Done && adopt())
        return linkOpened_ = true;
    if (error_.isEmpty() || waited != PumpedWait::Done)
        error_ = QStringLiteral("%1 did not call back within %2 s").arg(station_).arg(kCallBackWaitMs / 1000);
    return false;
}

void CallInPort::close()
{
    if (connection_)
        connection_->close();
    connection_.reset();
    linkOpened_ = false;
}

void CallInPort::discardInput()
{
    pull();
    if (filter_)
        filter_->clear();
}

bool CallInPort::send(const QByteArray &bytes)
{
    if (!connected()) {
        error_ = QStringLiteral("%1 is not connected").arg(deviceName());
        return false;
    }
    filter_->expect(bytes);
    if (!connection_->send(bytes)) {
        error_ = connection_->errorString();
        return false;
    }
    return true;
}

int CallInPort::receivedCount()
{
    pull();
    return filter_ ? filter_->available(clock_.monotonicMs()) : 0;
}

QByteArray CallInPort::read(int count)
{
    pull();
    return filter_ ? filter_->take(count, clock_.monotonicMs()) : QByteArray();
}

QString CallInPort::deviceName() const
{
    return connection_ ? QStringLiteral("%1 (calling from %2)").arg(station_, connection_->peerAddress())
                       : QStringLiteral("%1 (calling in)").arg(station_);
}

QString CallInPort::errorString() const
{
    return error_.isEmpty() && connection_ ? connection_->errorString() : error_;
}

bool CallInPort::lineLost() const
{
    return connection_ && (superseded_ || connection_->lineLost());
}

QString CallInPort::lostLineReason() const
{
    if (superseded_)
        return QStringLiteral("quiet, and a newer call came");
    return connection_ ? connection_->lostLineReason() : QString();
}

} // namespace ostrand::callin

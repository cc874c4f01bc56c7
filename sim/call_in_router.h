#pragma once

#include "call_in_socket.h"
#include "meter_service.h"
#include "sim_options.h"

#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace ostrand::sim {

class RouterPacker;

// One meter behind a cellular router in client mode: the router connects out to a
// collector, sends its registration ID as set, passes the collector's bytes to the meter
// and the meter's output back in packets, sends a heartbeat on its own timer, and after a
// drop or a failed connect tries again after a pause, each time at the next address.
class CallInRouter : public QObject {
    Q_OBJECT
public:
    using Printer = MeterService::Printer;

    // Meter `options.meterNumber` holding `contents`. `many`: several routers share the
    // output, so the status lines name this one.
    CallInRouter(const SimOptions &options, const MeterContents &contents,
                 const QList<SocketAddress> &addresses, bool many, Printer say, Printer trace,
                 QObject *parent = nullptr);
    ~CallInRouter() override;

    // The first connect; later ones follow by themselves.
    void start();
    // Closes the connection and stops every timer.
    void stop();

    // The meter's ID as text (hex: for binary), or meter-K when it has none.
    QString name() const { return name_; }
    MeterService &service() { return *service_; }

private:
    void connectNext();
    void onConnectFinished();
    void onConnected();
    void onReadable();
    void onWritable();
    void send(const QByteArray &bytes);
    void sendPacket(const QByteArray &packet);
    void sendHeartbeat();
    // With `leaveOpen` the descriptor is kept, silent, instead of closed (a stale connection).
    void closeSocket(bool leaveOpen = false);
    void drop(const QString &why, bool leaveOpen = false);
    void retryLater();

    SimOptions options_;
    QList<SocketAddress> addresses_;
    QByteArray id_;
    IdMode idMode_;
    QString name_;
    Printer say_;
    MeterService *service_ = nullptr;
    RouterPacker *packer_ = nullptr;
    int nextAddress_ = 0;
    int fd_ = -1;
    QString peer_;
    bool connecting_ = false;
    QSocketNotifier *readable_ = nullptr;
    QSocketNotifier *writable_ = nullptr;
    QByteArray outbox_; // sent but not yet taken by the socket
    QList<int> stale_;  // the dropped connection left open (--leave-stale)
    QTimer reconnectTimer_;
    QTimer connectTimeout_;
    QTimer heartbeatTimer_;
};

} // namespace ostrand::sim

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

namespace ostrand::sim {

// The serial side of a cellular router: the meter's output reaches it at the line rate (10
// bits a byte with a baud rate, at once without) and it packs what it gathered into
// packets, cutting one when it holds `packetBytes` or when the serial side was quiet for 4
// character times. A reply longer than a packet thus leaves as two or more, with time
// between them for anything else the router sends. A drop point (see PacedWriter) ends the
// packet at once: what arrived before it goes out, then the connection is to be dropped.
class RouterPacker : public QObject {
    Q_OBJECT
public:
    using PacketSink = std::function<void(const QByteArray &packet)>;

    RouterPacker(int baud, int packetBytes, QObject *parent = nullptr);

    void setPacketSink(PacketSink sink) { sink_ = std::move(sink); }
    // The meter's output; with `dropAfter` >= 0 the line drops after that many of `bytes`.
    void write(const QByteArray &bytes, int dropAfter = -1);
    // The connection is gone: whatever was on its way is forgotten.
    void reset();
    // Milliseconds since the meter's last byte reached the router; -1 before the first.
    qint64 msSinceLastByte() const;

signals:
    // A drop point was reached (the packets before it were handed on).
    void dropReached();

private:
    struct Segment {
        QByteArray bytes;
        double startMs; // when its first byte began on the serial side
        bool drops;     // the line drops once its last byte arrived
    };

    double nowMs() const { return clock_.nsecsElapsed() / 1e6; }
    double arrivalMs(const Segment &segment, int index) const
    {
        return segment.startMs + (index + 1) * charMs_;
    }
    void pump();
    void arm();
    void emitPacket(int size);

    double charMs_;
    double gapMs_;
    int packetBytes_;
    PacketSink sink_;
    QList<Segment> pending_;  // still arriving
    QByteArray gathered_;     // arrived, not sent yet
    double serialFreeMs_ = 0; // when the meter's transmitter is free again
    double lastArrivalMs_ = -1;
    QElapsedTimer clock_;
    QTimer timer_;
};

} // namespace ostrand::sim

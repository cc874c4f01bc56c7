#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace ostrand::sim {

// Writes the meter's output to the line. With a baud rate it lets bytes out no faster than
// the wire would (10 bits a byte), in small chunks on a timer, so the rest of the program
// keeps running; without one it writes as fast as the line takes them. A chunk may carry
// a drop point: once that many of its bytes are out, the writer stops, writes nothing more
// until it is given a line again, and asks for the line to be dropped.
class PacedWriter : public QObject {
    Q_OBJECT
public:
    // `baud` 0 means no pacing.
    explicit PacedWriter(int baud, QObject *parent = nullptr);
    ~PacedWriter() override;

    // Writes to descriptor `fd` from now on (-1: no line; queued bytes are dropped).
    void setFd(int fd);
    // Queues `bytes`; with `dropAfter` >= 0, the line drops after that many of them.
    void write(const QByteArray &bytes, int dropAfter = -1);
    // Milliseconds since a byte last went out; -1 before the first.
    qint64 msSinceLastByte() const { return lastByteOut_.isValid() ? lastByteOut_.elapsed() : -1; }

signals:
    // A drop point was reached.
    void dropReached();

private:
    struct Chunk {
        QByteArray bytes;
        int dropAfter;
    };

    void pump();
    void armWriteNotifier(bool on);

    int baud_;
    int fd_ = -1;
    QList<Chunk> queue_;
    QTimer timer_;
    QElapsedTimer sinceLastPump_;
    QElapsedTimer lastByteOut_;
    double credit_ = 0.0;
    QSocketNotifier *writable_ = nullptr;
};

} // namespace ostrand::sim

#include "paced_writer.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace ostrand::sim {

namespace {

constexpr int kPumpIntervalMs = 5;
// A UART lets a few bytes go back to back after a pause, no more.
constexpr double kMaxBurstBytes = 16.0;

} // namespace

PacedWriter::PacedWriter(int baud, QObject *parent) : QObject(parent), baud_(baud)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kPumpIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &PacedWriter::pump);
}

PacedWriter::~PacedWriter() = default;

void PacedWriter::setFd(int fd)
{
    // This may run inside the notifier's own signal (a drop reached while the line was
    // full), so the notifier goes later, not now.
    if (writable_) {
        writable_->setEnabled(false);
        writable_->deleteLater();
    }
    writable_ = nullptr;
    queue_.clear();
    timer_.stop();
    fd_ = fd;
    if (fd_ >= 0) {
        writable_ = new QSocketNotifier(fd_, QSocketNotifier::Write, this);
        writable_->setEnabled(false);
        connect(writable_, &QSocketNotifier::activated, this, &PacedWriter::pump);
    }
}

void PacedWriter::write(const QByteArray &bytes, int dropAfter)
{
    if (fd_ < 0 || (bytes.isEmpty() && dropAfter < 0))
        return;
    const bool wasIdle = queue_.isEmpty();
    queue_.append({bytes, dropAfter});
    if (wasIdle) {
        credit_ = 1.0;
        sinceLastPump_.start();
    }
    pump();
}

void PacedWriter::armWriteNotifier(bool on)
{
    if (writable_)
        writable_->setEnabled(on);
}

void PacedWriter::pump()
{
    armWriteNotifier(false);
    if (baud_ > 0) {
        credit_ += sinceLastPump_.restart() * baud_ / 10000.0;
        // A timer tick that comes late must not cost the line its rate: allow
        // up to three ticks' worth at once before clipping the burst.
        const double tickBytes = kPumpIntervalMs * baud_ / 10000.0;
        credit_ = std::min(credit_, std::max(kMaxBurstBytes, 3 * tickBytes));
    }
    while (fd_ >= 0 && !queue_.isEmpty()) {
        Chunk &chunk = queue_.first();
        qsizetype want = chunk.dropAfter >= 0
                             ? std::min<qsizetype>(chunk.dropAfter, chunk.bytes.size())
                             : chunk.bytes.size();
        if (baud_ > 0)
            want = std::min<qsizetype>(want, qsizetype(credit_));
        if (want > 0) {
            const ssize_t n = ::write(fd_, chunk.bytes.constData(), size_t(want));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // The line is full (nobody reading): wait until it takes bytes again.
                armWriteNotifier(errno == EAGAIN || errno == EWOULDBLOCK);
                break;
            }
            chunk.bytes.remove(0, n);
            if (n > 0)
                lastByteOut_.start();
            if (chunk.dropAfter >= 0)
                chunk.dropAfter -= int(n);
            if (baud_ > 0)
                credit_ -= double(n);
        }
        if (chunk.dropAfter == 0) {
            // Nothing more goes out on a line that is being dropped.
            queue_.clear();
            timer_.stop();
            fd_ = -1;
            emit dropReached();
            return;
        }
        if (chunk.bytes.isEmpty()) {
            queue_.removeFirst();
            continue;
        }
        if (baud_ > 0 && credit_ < 1.0)
            break;
    }
    if (baud_ > 0 && !queue_.isEmpty() && !(writable_ && writable_->isEnabled()))
        timer_.start();
    else
        timer_.stop();
}

} // namespace ostrand::sim

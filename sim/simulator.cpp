#include "simulator.h"

#include "crc16.h"
#include "modbus_frame.h"
#include "paced_writer.h"
#include "serial_speed.h"

#include <QSocketNotifier>
#include <cerrno>
#include <unistd.h>

namespace ostrand::sim {

namespace {

constexpr int kDropLingerMs = 250;

// Modem chatter is text; show it readably, control characters escaped.
QString printable(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes) {
        if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            out +=
                QStringLiteral("\\x%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

} // namespace

Simulator::Simulator(const SimOptions &options, const MeterContents &contents, Printer say,
                     Printer trace, QObject *parent)
    : QObject(parent), options_(options), say_(std::move(say)), trace_(std::move(trace))
{
    service_ = new MeterService(options_, contents, QString(), this);
    service_->setPrinters(say_, options_.verbose ? trace_ : Printer());
    service_->setSink([this](const QByteArray &bytes, int dropAfter) {
        // A reply for a call that has hung up goes nowhere.
        if (modem_ && !modem_->online())
            return;
        writer_->write(bytes, dropAfter);
    });
    if (options_.modem)
        modem_.emplace(options_.modemSettings);
    writer_ = new PacedWriter(options_.baud, this);
    connect(writer_, &PacedWriter::dropReached, this, &Simulator::onDropReached);

    modemTimer_.setSingleShot(true);
    connect(&modemTimer_, &QTimer::timeout, this, [this] {
        if (modem_)
            takeModemOutput(modem_->tick(nowMs()));
    });
    if (options_.logEverySeconds > 0) {
        liveLogTimer_.setInterval(options_.logEverySeconds * 1000);
        connect(&liveLogTimer_, &QTimer::timeout, service_, &MeterService::logNextInstant);
    }
}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start(QString *error)
{
    if (!(options_.tcpListenPort >= 0 ? listenTcp(error) : openLine(error)))
        return false;
    if (options_.logEverySeconds > 0)
        liveLogTimer_.start();
    return true;
}

void Simulator::stop()
{
    liveLogTimer_.stop();
    modemTimer_.stop();
    if (tcp_) {
        closeConnection(QString());
        delete acceptable_;
        acceptable_ = nullptr;
        tcp_.reset();
    }
    closeLine();
    link_.remove();
}

bool Simulator::listenTcp(QString *error)
{
    tcp_ = std::make_unique<TcpLine>();
    if (!tcp_->listen(options_.tcpListenHost, options_.tcpListenPort, error)) {
        tcp_.reset();
        return false;
    }
    acceptable_ = new QSocketNotifier(tcp_->listenFd(), QSocketNotifier::Read, this);
    connect(acceptable_, &QSocketNotifier::activated, this, &Simulator::onConnectionWaiting);
    say_(QStringLiteral("ready %1").arg(tcp_->address()));
    const Meter &meter = service_->meter();
    trace(QStringLiteral("meter at slave address %1 on %2; log %3 records, start %4, end %5")
              .arg(meter.slaveAddress())
              .arg(tcp_->address())
              .arg(meter.log().recordCount())
              .arg(toText(meter.log().startPointer()), toText(meter.log().endPointer())));
    return true;
}

void Simulator::onConnectionWaiting()
{
    if (connection_ >= 0) {
        // One at a time: the next waits in the backlog until this one closes.
        acceptable_->setEnabled(false);
        return;
    }
    QString peer;
    connection_ = tcp_->accept(&peer);
    if (connection_ < 0)
        return;
    acceptable_->setEnabled(false);
    ++lineGeneration_;
    readable_ = new QSocketNotifier(connection_, QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &Simulator::onReadable);
    writer_->setFd(connection_);
    service_->newLine();
    trace(QStringLiteral("connection from %1").arg(peer));
}

void Simulator::closeConnection(const QString &why)
{
    if (connection_ < 0)
        return;
    if (readable_) {
        // This may run inside the notifier's own signal.
        readable_->setEnabled(false);
        readable_->deleteLater();
        readable_ = nullptr;
    }
    writer_->setFd(-1);
    ::close(connection_);
    connection_ = -1;
    ++lineGeneration_;
    service_->lineGone();
    if (!why.isEmpty())
        trace(why);
    if (acceptable_)
        acceptable_->setEnabled(true);
}

void Simulator::noteSerialSpeed()
{
    const int baud = tcp_ ? 0 : serialSideBaud(line_.masterFd());
    if (baud == 0 || baud == serialSpeed_)
        return;
    serialSpeed_ = baud;
    say_(QStringLiteral("serial side at %1 baud").arg(baud));
}

bool Simulator::openLine(QString *error)
{
    if (!line_.open(error))
        return false;
    ++lineGeneration_;
    const QString device = line_.slavePath();
    if (!options_.linkPath.isEmpty() && !link_.place(options_.linkPath, device, error)) {
        line_.close();
        return false;
    }
    readable_ = new QSocketNotifier(line_.masterFd(), QSocketNotifier::Read, this);
    connect(readable_, &QSocketNotifier::activated, this, &Simulator::onReadable);
    writer_->setFd(line_.masterFd());
    service_->newLine();
    if (modem_)
        modem_->reset();
    say_(QStringLiteral("ready %1 -> %2")
             .arg(options_.linkPath.isEmpty() ? device : options_.linkPath, device));
    const Meter &meter = service_->meter();
    trace(QStringLiteral("meter at slave address %1 on %2; log %3 records, start %4, end %5")
              .arg(meter.slaveAddress())
              .arg(device)
              .arg(meter.log().recordCount())
              .arg(toText(meter.log().startPointer()), toText(meter.log().endPointer())));
    return true;
}

void Simulator::closeLine()
{
    delete readable_;
    readable_ = nullptr;
    writer_->setFd(-1);
    line_.close();
}

void Simulator::onReadable()
{
    QByteArray bytes;
    char buf[4096];
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(lineFd(), buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        closed = tcp_ && (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK));
        break;
    }
    if (!bytes.isEmpty())
        noteSerialSpeed();
    if (!bytes.isEmpty())
        feedOrModem(bytes);
    if (closed)
        closeConnection(QStringLiteral("connection closed by the program"));
}

void Simulator::feedOrModem(const QByteArray &bytes)
{
    if (modem_ && !modem_->online()) {
        trace(QStringLiteral("modem <- \"%1\"").arg(printable(bytes)));
        takeModemOutput(modem_->receive(bytes, nowMs()));
        return;
    }
    if (modem_) {
        const ModemOutput out = modem_->receive(bytes, nowMs());
        takeModemOutput(out);
        feedMeter(out.toMeter);
        return;
    }
    feedMeter(bytes);
}

void Simulator::takeModemOutput(const ModemOutput &out)
{
    for (const QString &event : out.events)
        trace(QStringLiteral("modem: %1").arg(event));
    if (!out.toComputer.isEmpty()) {
        trace(QStringLiteral("modem -> \"%1\"").arg(printable(out.toComputer)));
        writer_->write(out.toComputer);
    }
    armModemTimer();
}

void Simulator::armModemTimer()
{
    const qint64 due = modem_ ? modem_->nextDeadline() : -1;
    if (due < 0) {
        modemTimer_.stop();
        return;
    }
    modemTimer_.start(int(std::max<qint64>(0, due - nowMs())));
}

void Simulator::feedMeter(const QByteArray &bytes)
{
    service_->receive(bytes, writer_->msSinceLastByte());
}

void Simulator::onDropReached()
{
    if (tcp_) {
        // The bytes before the break are in the socket already; the close
        // reaches the program after them.
        closeConnection(QStringLiteral("line dropped"));
        say_(QStringLiteral("dropped"));
        return;
    }
    // Closing the master throws away whatever the other end has not read yet, so the
    // bytes sent before the break get a moment to arrive; the line is deaf meanwhile.
    if (readable_)
        readable_->setEnabled(false);
    const int generation = lineGeneration_;
    QTimer::singleShot(kDropLingerMs, this, [this, generation] {
        if (generation != lineGeneration_)
            return;
        trace(QStringLiteral("line dropped"));
        closeLine();
        say_(QStringLiteral("dropped"));
        // Like a cable plugged back in: a fresh line under the same link.
        QString error;
        if (!openLine(&error) && trace_)
            trace_(QStringLiteral("cannot open a new line: %1").arg(error));
    });
}

} // namespace ostrand::sim

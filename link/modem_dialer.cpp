#include "modem_dialer.h"

#include "link/meter_link.h"
#include "link/serial_link.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/serial_port.h"

#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QStringList>

namespace ostrand {
namespace {

// Gives a modem that was asleep or mid-command time to take the lone CR.
constexpr std::int64_t kWakeMs = 1000;
constexpr std::int64_t kAnswerTimeoutMs = 90000;
// Lets the rest of the connect report (the line speed) arrive and show.
constexpr std::int64_t kConnectReportMs = 3000;
// Covers the modem's escape guard time, its hang-up and the line settling.
constexpr std::int64_t kHangUpStepMs = 2000;

const QString kCouldNotConnect = QStringLiteral("Could not connect");
const QString kHangingUp = QStringLiteral("Hanging up Line");
const QString kIdle = QStringLiteral("Okay");

// Exactly these forms: a modem that answers "oK" is not one this program knows.
bool showsOk(const QString &text)
{
    return text.contains(QLatin1String("OK")) || text.contains(QLatin1String("Ok"))
           || text.contains(QLatin1String("ok"));
}

// Lower case is left out so that "Could not connect" is never taken for a connection.
bool showsConnect(const QString &text)
{
    return text.contains(QLatin1String("Connect")) || text.contains(QLatin1String("CONNECT"));
}

// The modem's final word on a dial that did not connect, once its line is
// complete; empty while none has come. The modem is back in command mode then,
// so nothing is left to wait for.
QString refusalIn(const QString &reply)
{
    static const QStringList kRefusals = {QStringLiteral("BUSY"), QStringLiteral("NO CARRIER"),
                                          QStringLiteral("NO ANSWER"), QStringLiteral("NO DIALTONE"),
                                          QStringLiteral("ERROR")};
    // Only lines ended by CR or LF: the last one may still be arriving.
    const QStringList lines = reply.split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (kRefusals.contains(line))
            return line;
    }
    return QString();
}

} // namespace

ModemDialer::ModemDialer(MeterLink &link, EventPump &pump, DialerView view)
    : link_(link), serial_(link.serial()), pump_(pump), view_(std::move(view))
{
}

QString ModemDialer::dialingStatus(const QString &phoneNumber)
{
    return QStringLiteral("Dialing ") + phoneNumber;
}

DialResult ModemDialer::dialModem(const QString &phoneNumber)
{
    // A second dial, or a dial inside a hang-up, a download or a poll (all of
    // which hold the link), would read the other's answers and put modem
    // commands into the middle of its exchanges.
    if (link_.isBusy())
        return DialResult::Busy;
    if (!serial_.openPort())
        return DialResult::PortNotOpen;
    const MeterLink::Hold hold(link_);
    const QScopedValueRollback<bool> dialing(dialing_, true);
    hungUpDuringDial_ = false;
    return dial(phoneNumber);
}

DialResult ModemDialer::dial(const QString &phoneNumber)
{
    view_.setStatus(QString());
    serial_.sendBytes(QByteArrayLiteral("\r"));
    busyWaitMoreThan(kWakeMs);
    serial_.discardInput();
    serial_.discardOutput();
    if (!serviceWindow())
        return DialResult::HungUp;
    serial_.sendBytes(QByteArrayLiteral("AT\r"));
    if (!serviceWindow())
        return DialResult::HungUp;

    QString reply;
    const std::int64_t start = nowMs();
    for (;;) {
        if (nowMs() - start > kAnswerTimeoutMs) {
            view_.setStatus(kCouldNotConnect);
            return DialResult::CouldNotConnect;
        }
        const bool more = takeOneByte(reply);
        if (showsOk(view_.status()))
            break;
        if (!serviceWindow(more))
            return DialResult::HungUp;
    }

    view_.setStatus(dialingStatus(phoneNumber));
    if (!serviceWindow())
        return DialResult::HungUp;
    serial_.sendBytes(QByteArrayLiteral("ATDT ") + phoneNumber.toLatin1() + '\r');
    view_.showHangup();
    if (!serviceWindow())
        return DialResult::HungUp;

    const DialResult result = awaitConnectReport();
    if (result == DialResult::HungUp)
        return result;
    serial_.discardInput();
    serial_.discardOutput();
    return serviceWindow() ? result : DialResult::HungUp;
}

DialResult ModemDialer::awaitConnectReport()
{
    QString reply;
    bool connected = false;
    std::int64_t connectMs = 0;
    const std::int64_t start = nowMs();
    for (;;) {
        // A report that came in just before the time-out still gets its 3 s:
        // giving up then would report a live line as dead.
        if (!connected && nowMs() - start > kAnswerTimeoutMs) {
            view_.setStatus(kCouldNotConnect);
            return DialResult::CouldNotConnect;
        }
        const bool more = takeOneByte(reply);
        if (const QString refusal = refusalIn(reply); !refusal.isEmpty() && !connected) {
            // A modem that refused the dial holds no line: the port goes back
            // at once rather than after the 90 s meant for a distant answer.
            serial_.closePort();
            view_.setStatus(QStringLiteral("%1: %2").arg(kCouldNotConnect, refusal));
            return DialResult::CouldNotConnect;
        }
        if (showsConnect(view_.status()) && !connected) {
            connected = true;
            connectMs = nowMs();
        }
        if (connected && nowMs() - connectMs > kConnectReportMs)
            return DialResult::Connected;
        if (!serviceWindow(more))
            return DialResult::HungUp;
    }
}

void ModemDialer::hangUpModem()
{
    if (dialing_)
        hungUpDuringDial_ = true;
    if (hangingUp_)
        return;
    // Nothing to hang up: opening the port only to close it again could
    // disturb a modem that another program is using.
    if (!serial_.port().isOpen()) {
        view_.setStatus(kIdle);
        return;
    }
    const QScopedValueRollback<bool> hangingUp(hangingUp_, true);
    // A display poll sent during the guard time would spoil the escape.
    const MeterLink::Hold hold(link_);
    view_.setStatus(kHangingUp);
    sendIfOpen(QByteArrayLiteral("+++"));
    serial_.yield();
    busyWaitMoreThan(kHangUpStepMs);
    sendIfOpen(QByteArrayLiteral("ATH0\r"));
    serial_.yield();
    busyWaitMoreThan(kHangUpStepMs);
    serial_.closePort();
    busyWaitMoreThan(kHangUpStepMs);
    view_.setStatus(kIdle);
}

bool ModemDialer::takeOneByte(QString &reply)
{
    if (serial_.receivedCount() < 1)
        return false;
    if (const auto byte = serial_.readBytes(1)) {
        reply.append(QChar(static_cast<uchar>(byte->at(0))));
        view_.setStatus(reply);
    }
    return serial_.receivedCount() > 0;
}

bool ModemDialer::serviceWindow(bool bytesWaiting)
{
    // With bytes already waiting there is nothing to wait for; pausing would
    // stretch a report over one pump timeout per byte.
    if (bytesWaiting)
        serial_.yield();
    else
        serial_.waitForEvent();
    return !hungUpDuringDial_;
}

void ModemDialer::busyWaitMoreThan(std::int64_t ms)
{
    const std::int64_t start = nowMs();
    for (std::int64_t waited = 0; waited <= ms; waited = nowMs() - start)
        pump_.sleep(static_cast<int>(ms - waited + 1));
}

void ModemDialer::sendIfOpen(const QByteArray &bytes)
{
    // A handler run during the hang-up's yields may have closed the port.
    if (serial_.port().isOpen())
        serial_.sendBytes(bytes);
}

std::int64_t ModemDialer::nowMs() const
{
    return serial_.clock().monotonicMs();
}

} // namespace ostrand

#include "hayes_modem.h"

namespace ostrand::sim {

namespace {

constexpr int kMaxCommandLine = 80;
// "+++" only counts when it starts a burst: the pluses must follow a pause at least this
// long, so the bytes 2B 2B 2B inside a Modbus frame never hang up the line.
constexpr int kEscapeLeadInMs = 50;

} // namespace

HayesModem::HayesModem(ModemSettings settings)
    : settings_(std::move(settings)), echo_(settings_.echo)
{
}

void HayesModem::reset()
{
    state_ = State::Command;
    echo_ = settings_.echo;
    line_.clear();
    dialDoneMs_ = -1;
    pluses_ = 0;
    lastDataMs_ = -1;
    escapeAtMs_ = -1;
}

QByteArray HayesModem::result(const QString &text)
{
    return "\r\n" + text.toLatin1() + "\r\n";
}

ModemOutput HayesModem::receive(const QByteArray &bytes, qint64 nowMs)
{
    ModemOutput out = tick(nowMs);
    for (const char byte : bytes) {
        switch (state_) {
        case State::Command:
        case State::OnlineCommand:
            commandByte(byte, nowMs, out);
            break;
        case State::Dialing:
            // Any character but a stray line feed aborts a dial, as on a real modem.
            if (byte != '\n') {
                state_ = State::Command;
                dialDoneMs_ = -1;
                out.toComputer += result(QStringLiteral("NO CARRIER"));
                out.events << QStringLiteral("dial aborted by a key");
            }
            break;
        case State::Online:
            onlineByte(byte, nowMs, out);
            break;
        }
    }
    return out;
}

void HayesModem::commandByte(char byte, qint64 nowMs, ModemOutput &out)
{
    if (echo_)
        out.toComputer += byte;
    if (byte == '\r') {
        const QByteArray line = line_.trimmed();
        line_.clear();
        if (!line.isEmpty())
            runCommandLine(line, nowMs, out);
    } else if (byte == '\b' || byte == 0x7F) {
        line_.chop(1);
    } else if (byte != '\n' && line_.size() < kMaxCommandLine) {
        line_ += byte;
    }
}

void HayesModem::runCommandLine(const QByteArray &line, qint64 nowMs, ModemOutput &out)
{
    // Like a real modem, wait for the "AT" prefix and ignore whatever came before it.
    const int at = line.toUpper().indexOf("AT");
    if (at < 0)
        return;
    const QByteArray body = line.mid(at + 2).toUpper();
    const bool connected = state_ == State::OnlineCommand;

    if (body.startsWith('D')) {
        if (connected) {
            out.toComputer += result(QStringLiteral("ERROR"));
            return;
        }
        QByteArray number = body.mid(1).trimmed();
        if (number.startsWith('T') || number.startsWith('P'))
            number = number.mid(1).trimmed();
        number_ = QString::fromLatin1(number);
        state_ = State::Dialing;
        dialDoneMs_ = nowMs + settings_.connectDelayMs;
        out.events << QStringLiteral("dialling \"%1\"").arg(number_);
        return;
    }

    for (int i = 0; i < body.size(); ++i) {
        const char command = body.at(i);
        const char argument = i + 1 < body.size() ? body.at(i + 1) : '\0';
        if (command == 'E') {
            echo_ = argument != '0';
        } else if (command == 'H') {
            if (connected) {
                state_ = State::Command;
                out.events << QStringLiteral("hung up");
            }
        } else if (command == 'Z') {
            echo_ = settings_.echo;
        } else if (command == 'O') {
            if (!connected) {
                out.toComputer += result(QStringLiteral("NO CARRIER"));
                return;
            }
            state_ = State::Online;
            lastDataMs_ = nowMs;
            out.toComputer += result(QStringLiteral("CONNECT %1").arg(settings_.lineSpeed));
            return;
        }
        // Everything else (V1, Q0, &F, S0=1 ...) is taken without comment.
    }
    out.toComputer += result(QStringLiteral("OK"));
}

void HayesModem::onlineByte(char byte, qint64 nowMs, ModemOutput &out)
{
    const bool afterPause = lastDataMs_ < 0 || nowMs - lastDataMs_ >= kEscapeLeadInMs;
    if (byte == '+' && ((pluses_ == 0 && afterPause) || (pluses_ > 0 && pluses_ < 3)))
        ++pluses_;
    else
        pluses_ = 0;
    escapeAtMs_ = pluses_ == 3 ? nowMs + settings_.guardMs : -1;
    lastDataMs_ = nowMs;
    out.toMeter += byte;
}

ModemOutput HayesModem::tick(qint64 nowMs)
{
    ModemOutput out;
    if (state_ == State::Dialing && nowMs >= dialDoneMs_) {
        dialDoneMs_ = -1;
        if (settings_.dialResult.startsWith(QLatin1String("CONNECT"))) {
            state_ = State::Online;
            lastDataMs_ = nowMs;
            pluses_ = 0;
            out.toComputer += result(QStringLiteral("CONNECT %1").arg(settings_.lineSpeed));
            out.events << QStringLiteral("connected to \"%1\"").arg(number_);
        } else {
            state_ = State::Command;
            out.toComputer += result(settings_.dialResult);
            out.events << QStringLiteral("dial ended: %1").arg(settings_.dialResult);
        }
    }
    if (state_ == State::Online && escapeAtMs_ >= 0 && nowMs >= escapeAtMs_) {
        state_ = State::OnlineCommand;
        escapeAtMs_ = -1;
        pluses_ = 0;
        out.toComputer += result(QStringLiteral("OK"));
        out.events << QStringLiteral("escaped to command mode");
    }
    return out;
}

qint64 HayesModem::nextDeadline() const
{
    if (state_ == State::Dialing)
        return dialDoneMs_;
    if (state_ == State::Online)
        return escapeAtMs_;
    return -1;
}

} // namespace ostrand::sim

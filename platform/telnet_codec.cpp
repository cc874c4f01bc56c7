#include "telnet_codec.h"

namespace ostrand {
namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// Client-to-server COM-port commands; the server answers each with 100 added.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kServerOffset = 100;
constexpr std::uint8_t kDataSize8 = 8;
constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kStopSize1 = 1;

QString parityName(std::uint8_t code)
{
    static const char *const names[] = {"none", "odd", "even", "mark", "space"};
    return code >= 1 && code <= 5 ? QString::fromLatin1(names[code - 1]) : QStringLiteral("code %1").arg(code);
}

QString stopBitsName(std::uint8_t code)
{
    if (code == 3)
        return QStringLiteral("1.5");
    return code == 1 || code == 2 ? QString::number(code) : QStringLiteral("code %1").arg(code);
}

bool ourOption(std::uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

void put(QByteArray &out, std::uint8_t verb, std::uint8_t option)
{
    out.append(static_cast<char>(kIac)).append(static_cast<char>(verb)).append(static_cast<char>(option));
}

QByteArray comPortCommand(std::uint8_t command, const QByteArray &value)
{
    QByteArray out;
    out.append(static_cast<char>(kIac)).append(static_cast<char>(kSb)).append(static_cast<char>(kComPort));
    out.append(static_cast<char>(command));
    out.append(TelnetCodec::encode(value));
    out.append(static_cast<char>(kIac)).append(static_cast<char>(kSe));
    return out;
}

} // namespace

QByteArray TelnetCodec::opening()
{
    QByteArray out;
    for (const std::uint8_t option : {kBinary, kSuppressGoAhead}) {
        put(out, kWill, option);
        put(out, kDo, option);
        weWill_[option] = theyWill_[option] = true;
    }
    put(out, kWill, kComPort);
    weWill_[kComPort] = true;
    return out;
}

QByteArray TelnetCodec::portSettings(std::uint32_t baud)
{
    QByteArray speed;
    for (int shift = 24; shift >= 0; shift -= 8)
        speed.append(static_cast<char>((baud >> shift) & 0xFF));
    return comPortCommand(kSetBaudRate, speed) + comPortCommand(kSetDataSize, QByteArray(1, kDataSize8))
           + comPortCommand(kSetParity, QByteArray(1, kParityNone))
           + comPortCommand(kSetStopSize, QByteArray(1, kStopSize1));
}

QByteArray TelnetCodec::encode(const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size());
    for (const char byte : data) {
        out.append(byte);
        if (static_cast<std::uint8_t>(byte) == kIac)
            out.append(byte);
    }
    return out;
}

TelnetCodec::Decoded TelnetCodec::decode(const QByteArray &received)
{
    Decoded out;
    for (const char c : received) {
        const auto byte = static_cast<std::uint8_t>(c);
        switch (state_) {
        case State::Data:
            if (byte == kIac)
                state_ = State::Command;
            else
                out.data.append(c);
            break;
        case State::Command:
            if (byte == kIac) {
                out.data.append(c);
                state_ = State::Data;
            } else if (byte >= kWill) {
                verb_ = byte;
                state_ = State::Option;
            } else if (byte == kSb) {
                sub_.clear();
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, go-ahead and the like carry nothing for the line
            }
            break;
        case State::Option:
            negotiate(verb_, byte, out.reply);
            state_ = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                state_ = State::SubCommand;
            else
                sub_.append(c);
            break;
        case State::SubCommand:
            if (byte == kIac) {
                sub_.append(c);
                state_ = State::Sub;
            } else {
                if (byte == kSe)
                    subnegotiation();
                state_ = State::Data;
            }
            break;
        }
    }
    return out;
}

void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, QByteArray &reply)
{
    // Only a change of state is answered, so two ends never echo each other forever.
    switch (verb) {
    case kDo:
        if (!ourOption(option)) {
            put(reply, kWont, option);
        } else {
            if (!weWill_[option])
                put(reply, kWill, option);
            weWill_[option] = true;
            if (option == kComPort)
                portControl_ = PortControl::Accepted;
        }
        break;
    case kDont:
        if (weWill_[option])
            put(reply, kWont, option);
        weWill_[option] = false;
        if (option == kComPort)
            portControl_ = PortControl::Refused;
        break;
    case kWill:
        // The far end's own port control would be a server asking us for settings.
        if (option == kBinary || option == kSuppressGoAhead) {
            if (!theyWill_[option])
                put(reply, kDo, option);
            theyWill_[option] = true;
        } else {
            put(reply, kDont, option);
        }
        break;
    case kWont:
        // Our DO was a request; its refusal needs no answer.
        theyWill_[option] = false;
        break;
    default:
        break;
    }
}

void TelnetCodec::subnegotiation()
{
    if (sub_.size() < 2 || static_cast<std::uint8_t>(sub_[0]) != kComPort)
        return;
    const auto command = static_cast<std::uint8_t>(sub_[1]);
    if (command == kServerOffset + kSetBaudRate && sub_.size() >= 6) {
        std::uint32_t baud = 0;
        for (int i = 2; i < 6; ++i)
            baud = (baud << 8) | static_cast<std::uint8_t>(sub_[i]);
        acknowledged_.baud = baud;
        return;
    }
    if (sub_.size() < 3)
        return;
    const auto value = static_cast<std::uint8_t>(sub_[2]);
    if (command == kServerOffset + kSetDataSize)
        acknowledged_.dataSize = value;
    else if (command == kServerOffset + kSetParity)
        acknowledged_.parity = value;
    else if (command == kServerOffset + kSetStopSize)
        acknowledged_.stopSize = value;
}

QStringList TelnetCodec::differences(std::uint32_t baud, const Acknowledged &acknowledged)
{
    // 0 is what a client sends to ask for the current value; a server that
    // answers with it has told nothing, and is not held to it.
    const auto differs = [](const auto &got, auto asked) { return got && *got != 0 && *got != asked; };
    QStringList out;
    if (differs(acknowledged.baud, baud))
        out << QStringLiteral("the serial speed to %1 baud, not the %2 asked").arg(*acknowledged.baud).arg(baud);
    if (differs(acknowledged.dataSize, kDataSize8))
        out << QStringLiteral("the data size to %1 bits, not the %2 asked").arg(*acknowledged.dataSize).arg(kDataSize8);
    if (differs(acknowledged.parity, kParityNone))
        out << QStringLiteral("the parity to %1, not the %2 asked")
                   .arg(parityName(*acknowledged.parity), parityName(kParityNone));
    if (differs(acknowledged.stopSize, kStopSize1))
        out << QStringLiteral("the stop bits to %1, not the %2 asked")
                   .arg(stopBitsName(*acknowledged.stopSize), stopBitsName(kStopSize1));
    return out;
}

} // namespace ostrand

#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>

namespace ostrand {

// The client's side of Telnet with the COM-port control option (RFC 854,
// 856, 858 and 2217), as far as a device server in front of a meter needs
// it: binary both ways, no go-aheads, the line's speed and 8N1 set by the
// program. Pure bytes in, bytes out, so the negotiation can be checked
// exactly without a socket.
class TelnetCodec {
public:
    enum class PortControl { Pending, Accepted, Refused };

    // What the client says first: binary and no go-aheads both ways, and that
    // it will control the port.
    QByteArray opening();
    // The port settings: `baud`, 8 data bits, no parity, 1 stop bit.
    static QByteArray portSettings(std::uint32_t baud);
    // Data for the far end, its 0xFF bytes doubled so none reads as a command.
    static QByteArray encode(const QByteArray &data);

    struct Decoded {
        QByteArray data;  // the serial line's bytes, commands taken out
        QByteArray reply; // answers the negotiation calls for, to send back
    };
    // Takes the next bytes received; a command split across receipts is
    // completed by the next call.
    Decoded decode(const QByteArray &received);

    PortControl portControl() const { return portControl_; }
    // The speed the device server reports having set, once it did.
    std::optional<std::uint32_t> acknowledgedBaud() const { return acknowledgedBaud_; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand };

    void negotiate(std::uint8_t verb, std::uint8_t option, QByteArray &reply);
    void subnegotiation();

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    QByteArray sub_;
    // Options this side will use, and those asked of the far end (or granted by it).
    std::array<bool, 256> weWill_{};
    std::array<bool, 256> theyWill_{};
    PortControl portControl_ = PortControl::Pending;
    std::optional<std::uint32_t> acknowledgedBaud_;
};

} // namespace ostrand

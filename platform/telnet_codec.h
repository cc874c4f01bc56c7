#pragma once

#include <QByteArray>
#include <QStringList>
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

    // The serial side's settings a server reported having set, in RFC 2217's
    // codes (data size in bits; parity 1 none, 2 odd, 3 even, 4 mark, 5 space;
    // stop size 1 one, 2 two, 3 one and a half); empty until it did.
    struct Acknowledged {
        std::optional<std::uint32_t> baud;
        std::optional<std::uint8_t> dataSize;
        std::optional<std::uint8_t> parity;
        std::optional<std::uint8_t> stopSize;
        // All four reported.
        bool complete() const { return baud && dataSize && parity && stopSize; }
    };

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
    std::optional<std::uint32_t> acknowledgedBaud() const { return acknowledged_.baud; }
    const Acknowledged &acknowledged() const { return acknowledged_; }
    // Each setting the server reported other than portSettings(`baud`) asked
    // for, in words ("the serial speed to 9600 baud, not the 38400 asked");
    // empty while all reported so far match.
    static QStringList differences(std::uint32_t baud, const Acknowledged &acknowledged);

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
    Acknowledged acknowledged_;
};

} // namespace ostrand

#pragma once

#include <QString>
#include <utility>

namespace ostrand {

// Where the meter is: the port, its speed, and the meter's address on the line.
struct LinkSettings {
    LinkSettings() = default;
    LinkSettings(int port, QString baud, int slaveAddress = 0, int replyMs = 0)
        : portNumber(port), baudRate(std::move(baud)), slave(slaveAddress), replyTimeoutMs(replyMs)
    {
    }

    int portNumber = 0; // COM1 to COM4 by number; 0 until a setting or a click chose one
    QString baudRate;   // "1200" ... "38400", as the port is opened with it
    int slave = 0;      // Modbus slave address
    // How long a reply may take on a line known to be slow (a modem or radio
    // path) before the request goes out again or, if it is sent once, is given
    // up; 0 keeps the meters' own timings, which are never shortened.
    int replyTimeoutMs = 0;
    // A meter behind a device server: "tcp://HOST:PORT" or "rfc2217://HOST:PORT",
    // which then stands for the port; empty for a serial port.
    QString networkAddress;
    int connectTimeoutMs = 10000; // how long connecting to a device server may take
    // A pause between a reply and the next request, for devices that need one.
    int requestGapMs = 0;
    // The adapter returns every byte sent (2-wire RS-485): the link takes the
    // request's own bytes off the line before the reply.
    bool echo = false;

    // The address goes out as one byte; anything else would reach another meter.
    static bool isValidSlave(int slave) { return slave >= 0 && slave <= 255; }
    // A minute covers a satellite hop several times over; more is a typing slip.
    static bool isValidReplyTimeout(int ms) { return ms >= 0 && ms <= 60000; }
    static bool isValidRequestGap(int ms) { return ms >= 0 && ms <= 1000; }
    // Five minutes outlasts any satellite or cellular set-up; 0 would never connect.
    static bool isValidConnectTimeout(int ms) { return ms >= 1 && ms <= 300000; }
};

} // namespace ostrand

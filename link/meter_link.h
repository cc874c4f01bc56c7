#pragma once

#include "link/link_observer.h"
#include "link/serial_link.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

namespace ostrand {

// Every Modbus exchange with the meter. Each call sends its request, waits
// (yielding to the window) by the meter's timing rules, checks the reply's
// CRC and leaves the data in ReplyData or LastDownloadPointer.
//
// Only one exchange runs at a time: a call made while another is waiting (a
// timer tick nested in a download's wait, say) fails at once without touching
// the port. A caller that needs several exchanges in a row holds the link.
class MeterLink {
public:
    explicit MeterLink(SerialLink &link);

    // Function 3: `count` holding registers from startHigh * 256 + startLow.
    bool ReadHoldingRegisters(int slave, int startHigh, int startLow, int count);
    // Function 0x60: `count` words of meter memory at p1/p2/p3.
    bool ReadLogBlock(int slave, int p1, int p2, int p3, int count);
    // Function 0x61: the three bytes of the last-download pointer.
    bool ReadLastDownloadPointer(int slave);
    // Function 0x62: true when the meter answered at all.
    bool ConfirmDownload(int slave);
    // Function 16: `count` registers from `first`, from RegisterHighBytes and RegisterLowBytes.
    bool WriteRegisters(int slave, int first, int count, int byteCount);
    // Function 0x63: the 20-byte display block into ReplyData.
    bool ReadDisplayBlock(int slave);

    // One CRC step on CrcRegister.
    void Crc16Update(int byte);

    // True while an exchange waits or an operation holds the link.
    bool isBusy() const { return inExchange_ || holds_ > 0; }
    bool inExchange() const { return inExchange_; }

    // Keeps others off the link across several exchanges (a download, a dial).
    class Hold {
    public:
        explicit Hold(MeterLink &link) : link_(link) { ++link_.holds_; }
        ~Hold() { --link_.holds_; }
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        MeterLink &link_;
    };

    SerialLink &serial() { return link_; }

    // Why the last failed exchange failed, in words for the operator (the
    // port's own reason when it would not open).
    QString lastFailureText() const;

    // Attaches the communication monitor (nullptr detaches it).
    void setObserver(LinkObserver *observer) { observer_ = observer; }
    LinkObserver *observer() const { return observer_; }

    QByteArray ReplyData;
    QByteArray LastDownloadPointer;
    std::uint32_t CrcRegister = 0xFFFF;
    std::array<qint16, 36> RegisterHighBytes{};
    std::array<qint16, 36> RegisterLowBytes{};

private:
    class Exchange;
    // The steps every exchange starts with: the port opened, stale bytes dropped.
    bool begin(const Exchange &exchange, int slave);
    bool readByte(int &value);
    // Waits for `expected` bytes, sending `frame` again after each second of
    // silence, until `giveUpSeconds` (plus a slow line's allowance) have passed.
    bool awaitResendingEverySecond(const QByteArray &frame, int expected, double giveUpSeconds);
    // Reads `count` bytes through the CRC, appending those from `keepFrom` on to *keep.
    bool readThroughCrc(int count, QByteArray *keep = nullptr, int keepFrom = 0);
    bool readCrcAndCompare();
    // Sends a request, telling the monitor whether it repeats the last one.
    void send(const QByteArray &frame);
    bool fail(LinkFailure why);

    SerialLink &link_;
    bool inExchange_ = false;
    int holds_ = 0;
    LinkObserver *observer_ = nullptr;
    // What the monitor is told at the end of an exchange.
    QByteArray request_;
    QByteArray reply_;
    bool failed_ = false;
    LinkFailure lastFailure_ = LinkFailure::TimedOut;
};

} // namespace ostrand

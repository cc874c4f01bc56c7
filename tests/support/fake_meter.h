#pragma once

#include "fake_serial_port.h"
#include "link/crc16.h"

#include <QDateTime>
#include <QtEndian>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <set>

namespace ostrand::testing {

// A meter for download tests, played on the fake port: holding registers 76-83,
// memory for function 0x60, the last-download pointer and the confirmation.
class FakeMeter {
public:
    explicit FakeMeter(FakeSerialPort &port) : port_(port)
    {
        port_.setResponder([this](const QByteArray &request, FakeSerialPort &p) { answer(request, p); });
    }

    // One 8-byte log record as the meter stores it.
    static QByteArray record(int channel, const QDateTime &when, float value)
    {
        auto bcd = [](int v) { return ((v / 10) << 4) | (v % 10); };
        const int year = when.date().year() - 2000;
        QByteArray r(8, '\0');
        r[0] = static_cast<char>((channel << 4) | when.date().month());
        r[1] = static_cast<char>(((year >> 3) & 3) << 6 | bcd(when.date().day()));
        r[2] = static_cast<char>(((year >> 1) & 3) << 6 | bcd(when.time().hour()));
        r[3] = static_cast<char>((year & 1) << 7 | bcd(when.time().minute()));
        quint32 bits = 0;
        std::memcpy(&bits, &value, 4);
        qToBigEndian(bits, r.data() + 4);
        return r;
    }

    // Writes bytes at a log address, carrying across pages and banks as the meter does.
    void writeLog(int bank, int page, int offset, const QByteArray &bytes)
    {
        for (char b : bytes) {
            memory_[bank * 65536 + page * 256 + offset] = static_cast<char>(b);
            if (++offset > 255) {
                offset = 0;
                if (++page == 0xC0) {
                    page = 0x80;
                    if (++bank > 23)
                        bank = 8;
                }
            }
        }
    }
    // Unset memory reads as erased (0xFF), so a channel without a label needs nothing.
    void setLabel(int channel, const QByteArray &label)
    {
        for (int i = 0; i < 200; ++i)
            memory_[0x18 * 65536 + (0x80 + channel) * 256 + i] = i >= 64 && i < 64 + label.size() ? label[i - 64] : '\xff';
    }
    // Registers 76-83 in the usual layout (or the portable one, a byte earlier).
    void setPointers(int a1, int b1, int c1, int a2, int b2, int c2, float used, float available,
                     bool portable = false)
    {
        QByteArray d(16, '\0');
        const int s = portable ? 0 : 1;
        d[s] = char(a1), d[s + 1] = char(b1), d[s + 2] = char(c1);
        d[s + 4] = char(a2), d[s + 5] = char(b2), d[s + 6] = char(c2);
        d.replace(s + 7, 4, record(1, {}, used).mid(4));
        d.replace(s + 11, 4, record(1, {}, available).mid(4));
        registers_ = d;
        end_ = {a2, b2, c2};
    }
    void setLastDownloadPointer(int a, int b, int c) { lastDownload_ = address(a, b, c); }

    // Faults: requests at these linear addresses (or with this function) go unanswered.
    std::set<int> silentAddresses;
    std::set<int> silentFunctions;
    // Every 0x60 request, as bank/page/offset/words, and the confirmations.
    struct BlockRead {
        int bank, page, offset, words;
    };
    std::vector<BlockRead> blockReads;
    int confirmations = 0;
    // A confirmation puts the last-download marker on the record before the
    // end pointer, as it stands when the confirmation arrives; unless not taken.
    bool takesConfirmation = true;
    int replyDelayMs = 5;
    // Runs as each request reaches the meter, before it answers (to pull the adapter, say).
    std::function<void(const QByteArray &request)> onRequest;

private:
    void answer(const QByteArray &q, FakeSerialPort &p)
    {
        // A copy runs, so a hook may clear itself without destroying what it is running.
        if (const auto hook = onRequest)
            hook(q);
        const int function = static_cast<quint8>(q[1]);
        if (silentFunctions.count(function))
            return;
        QByteArray reply = q.left(2);
        if (function == 0x03) {
            reply += char(registers_.size()) + registers_;
        } else if (function == 0x60) {
            const int bank = quint8(q[2]), page = quint8(q[3]), offset = quint8(q[4]);
            const int words = quint8(q[5]) * 256 + quint8(q[6]);
            blockReads.push_back({bank, page, offset, words});
            if (silentAddresses.count(bank * 65536 + page * 256 + offset))
                return;
            QByteArray data;
            for (int i = 0; i < 2 * words; ++i) {
                const auto it = memory_.find(bank * 65536 + page * 256 + offset + i);
                data.append(it == memory_.end() ? '\xff' : it->second);
            }
            reply += q.mid(2, 3) + char(data.size() >> 8) + char(data.size() & 0xFF) + data;
        } else if (function == 0x61) {
            reply.append(lastDownload_);
        } else if (function == 0x62) {
            ++confirmations;
            if (takesConfirmation)
                lastDownload_ = recordBeforeEnd();
        }
        p.deliver(appendCrc(reply), replyDelayMs);
    }

    QByteArray recordBeforeEnd() const
    {
        int bank = end_[0], page = end_[1], offset = end_[2] - 8;
        if (offset < 0) {
            offset += 256;
            if (--page < 0x80) {
                page = 0xBF;
                if (--bank < 8)
                    bank = 23;
            }
        }
        return address(bank, page, offset);
    }
    static QByteArray address(int bank, int page, int offset) { return QByteArray(1, char(bank)) + char(page) + char(offset); }

    FakeSerialPort &port_;
    std::array<int, 3> end_{8, 0x80, 0};
    std::map<int, char> memory_;
    QByteArray registers_ = QByteArray(16, '\0');
    QByteArray lastDownload_ = QByteArray(3, '\0');
};

} // namespace ostrand::testing

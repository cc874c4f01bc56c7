#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>

namespace ostrand::callin {

// Takes a router's own bytes out of what a meter that called in sends: the
// heartbeat it sends on its own timer, and with `every` the registration it
// puts in front of each packet. TCP keeps no packet boundaries, so both are
// searched for in the byte stream, a match split across reads included; and
// since a meter's data may hold the same bytes, a reply is only handed on
// once exactly one reading of it checks as the frame asked for (the bytes as
// received first, then with the matches cut). Nothing is handed on of a reply
// that does not check: the link's wait sees silence and asks again.
class ReplyFilter {
public:
    // Patterns shorter than this are refused where they are configured: too
    // likely to turn up in a meter's data.
    static constexpr int kMinHeartbeatBytes = 4;

    // `heartbeat` and `prefix` may be empty (none).
    ReplyFilter(QByteArray heartbeat, QByteArray prefix);

    // A request went out: what comes next is checked as its reply.
    void expect(const QByteArray &request);
    // Forgets everything received and not yet handed on.
    void clear();
    // Bytes from the connection, at monotonic `nowMs`.
    void feed(const QByteArray &bytes, std::int64_t nowMs);
    // Bytes that may be handed on at `nowMs`: a tail that may begin a
    // heartbeat is held until the rest of it comes or the line is quiet.
    int available(std::int64_t nowMs);
    QByteArray take(int count, std::int64_t nowMs);
    // Bytes of the router's own taken out since the start.
    qint64 routerBytes() const { return routerBytes_; }

private:
    struct Match {
        int at;
        int length;
    };
    QList<Match> matches(const QByteArray &bytes) const;
    QByteArray cut(const QByteArray &bytes, const QList<Match> &found, unsigned mask) const;
    int partialTail(const QByteArray &bytes) const;
    bool checks(const QByteArray &frame) const;
    void settle(std::int64_t nowMs);

    QList<QByteArray> patterns_;
    QByteArray request_;       // the request whose reply is awaited; empty: none
    int expected_ = 0;         // its reply's length, CRC included
    bool checked_ = false;     // whether that reply carries a CRC to check it by
    QByteArray raw_;           // received, not yet settled
    QByteArray ready_;         // settled: the link's to take
    int provisional_ = 0;      // bytes of an unsettled reply the link took already
    std::int64_t lastByteMs_ = 0;
    qint64 routerBytes_ = 0;
};

} // namespace ostrand::callin

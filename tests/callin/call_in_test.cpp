#include "callin/caller_identification.h"
#include "callin/reply_filter.h"
#include "collect/stations_file.h"
#include "link/crc16.h"

#include <gtest/gtest.h>

namespace {

using ostrand::callin::CallerIdentification;
using ostrand::callin::CallerKey;
using ostrand::callin::ReplyFilter;
using Kind = CallerIdentification::Verdict::Kind;

// A log block request for `words` words and the meter's reply to it.
QByteArray blockRequest(int words)
{
    return ostrand::appendCrc(QByteArray::fromHex("01600a0000") + QByteArray(1, char(words >> 8)) + QByteArray(1, char(words)));
}

QByteArray blockReply(int words, char fill = 0)
{
    QByteArray data(2 * words, fill);
    for (int i = 0; fill == 0 && i < data.size(); ++i)
        data[i] = char(i * 7 + 3);
    return ostrand::appendCrc(QByteArray::fromHex("01600a0000") + QByteArray(1, char((2 * words) >> 8))
                              + QByteArray(1, char(2 * words)) + data);
}

// Feeds `pieces` one by one, 10 ms apart, and takes what the link would.
QByteArray passed(ReplyFilter &filter, const QList<QByteArray> &pieces, std::int64_t settleMs = 0)
{
    std::int64_t now = 1000;
    for (const QByteArray &piece : pieces)
        filter.feed(piece, now += 10);
    return filter.take(1 << 20, now + settleMs);
}

TEST(ReplyFilter, theMetersReplyComesThroughWhateverTheRouterPutsInIt)
{
    const QByteArray reply = blockReply(40);
    const QByteArray hb = "PING";
    const QByteArray id = "north-1";
    struct Case {
        const char *what;
        QByteArray heartbeat, prefix;
        QList<QByteArray> pieces;
        QByteArray expected;
    } cases[] = {
        {"nothing added", hb, {}, {reply}, reply},
        {"a heartbeat inside", hb, {}, {reply.left(30), hb, reply.mid(30)}, reply},
        {"a heartbeat split across reads inside", hb, {}, {reply.left(30) + "PI", "NG" + reply.mid(30)}, reply},
        {"heartbeats before and after", hb, {}, {hb, reply, hb}, reply},
        {"the ID before every packet and a heartbeat between", hb, id,
         {id + reply.left(20), hb, id + reply.mid(20, 40), id + reply.mid(60)}, reply},
        {"the ID split across reads", {}, id, {id.left(3), id.mid(3) + reply.left(50), id + reply.mid(50)}, reply},
        // The meter's data may hold the heartbeat's bytes: taken as they came, since that reading checks.
        {"the heartbeat's bytes in the data", "\x01\x01\x01\x01", {}, {blockReply(40, 1)}, blockReply(40, 1)},
        {"a reply that checks in no reading", hb, {}, {reply.left(30) + "XX" + reply.mid(30)}, {}},
        {"a reply cut short", hb, {}, {reply.left(50)}, {}},
    };
    for (const Case &c : cases) {
        ReplyFilter filter(c.heartbeat, c.prefix);
        filter.expect(blockRequest(40));
        const QByteArray got = passed(filter, c.pieces);
        // An unchecked reply may show its first bytes, never the whole: the link waits and asks again.
        if (c.expected.isEmpty())
            EXPECT_LT(got.size(), reply.size()) << c.what;
        else
            EXPECT_EQ(got.toHex(), c.expected.toHex()) << c.what;
    }
}

TEST(ReplyFilter, aReplyTakenBitByBitIsTheCheckedOneAndAnExceptionPassesToo)
{
    const QByteArray reply = blockReply(40);
    ReplyFilter filter("PING", {});
    filter.expect(blockRequest(40));
    filter.feed(reply.left(20) + "PI", 10);
    // What shows before the reply is whole is its beginning, the router's bytes left out.
    const QByteArray head = filter.take(2, 10);
    EXPECT_EQ(head, reply.left(2));
    filter.feed("NG" + reply.mid(20), 20);
    EXPECT_EQ((head + filter.take(1000, 20)).toHex(), reply.toHex());

    const QByteArray exception = ostrand::appendCrc(QByteArray::fromHex("01e002"));
    filter.expect(blockRequest(40));
    filter.feed("PI" + QByteArray("NG") + exception, 30);
    EXPECT_EQ(filter.take(100, 30).toHex(), exception.toHex());
}

TEST(ReplyFilter, theRoutersBytesNeverAnswerAConfirmation)
{
    const QByteArray confirm = ostrand::appendCrc(QByteArray::fromHex("0162"));
    struct Case {
        const char *what;
        QList<QByteArray> pieces;
        std::int64_t quietMs;
        QByteArray expected;
    } cases[] = {
        {"a heartbeat alone", {"PING"}, 1000, {}},
        {"the ID alone", {"north-1"}, 1000, {}},
        {"a heartbeat then the answer", {"PING", "\x62"}, 0, "\x62"},
        {"the start of a heartbeat is held until the line is quiet", {"P"}, 0, {}},
        {"and then let go", {"P"}, 1000, "P"},
    };
    for (const Case &c : cases) {
        ReplyFilter filter("PING", "north-1");
        filter.expect(confirm);
        EXPECT_EQ(passed(filter, c.pieces, c.quietMs), c.expected) << c.what;
    }
}

TEST(CallerIdentification, aCallerIsKnownByItsRegistrationOrItsAddressAndNothingElse)
{
    const auto subnet = [](const char *text) { return QHostAddress::parseSubnet(QString::fromLatin1(text)); };
    const std::vector<CallerKey> keys{
        {0, "north-1", std::nullopt},
        {1, QByteArray::fromHex("0102fffe"), std::nullopt},
        {2, "south", subnet("10.1.0.0/16")},
        {3, {}, subnet("192.0.2.0/24")},
        {4, {}, subnet("192.0.2.7/32")},
    };
    const CallerIdentification identification(keys, {"PING"});
    const QHostAddress anywhere("203.0.113.9");
    struct Case {
        const char *what;
        QByteArray bytes;
        QHostAddress from;
        Kind kind;
        int station;
        QByteArray rest;
    } cases[] = {
        {"a text ID and the meter's bytes after it", "north-1\x01\x60", anywhere, Kind::Known, 0, "\x01\x60"},
        {"a binary ID", QByteArray::fromHex("0102fffe"), anywhere, Kind::Known, 1, {}},
        {"a heartbeat before the ID", "PINGnorth-1", anywhere, Kind::Known, 0, {}},
        {"half an ID", "nort", anywhere, Kind::NeedMore, -1, {}},
        {"half a heartbeat", "PI", anywhere, Kind::NeedMore, -1, {}},
        {"an unknown ID", "north-2", anywhere, Kind::Refused, -1, {}},
        {"an ID from outside its subnet", "south", anywhere, Kind::Refused, -1, {}},
        {"an ID from inside its subnet", "south", QHostAddress("10.1.200.3"), Kind::Known, 2, {}},
        {"an IPv4 caller on a dual-stack port", "south", QHostAddress("::ffff:10.1.2.3"), Kind::Known, 2, {}},
    };
    for (const Case &c : cases) {
        const auto verdict = identification.onBytes(c.bytes, c.from);
        EXPECT_EQ(verdict.kind, c.kind) << c.what;
        EXPECT_EQ(verdict.station, c.station) << c.what;
        EXPECT_EQ(verdict.rest, c.rest) << c.what;
        if (c.kind == Kind::Refused)
            EXPECT_FALSE(verdict.reason.isEmpty()) << c.what;
    }
    // Known by address: at once, the narrowest subnet first; elsewhere, an ID is awaited.
    EXPECT_EQ(identification.onConnect(QHostAddress("192.0.2.7")).station, 4);
    EXPECT_EQ(identification.onConnect(QHostAddress("192.0.2.8")).station, 3);
    EXPECT_EQ(identification.onConnect(anywhere).kind, Kind::NeedMore);
    EXPECT_EQ(identification.onTimeout("nort", anywhere).kind, Kind::Refused);
    // With no station known by an ID, a caller from no station's address is refused at once.
    const CallerIdentification byAddressOnly({{0, {}, subnet("192.0.2.0/24")}}, {});
    EXPECT_EQ(byAddressOnly.onConnect(anywhere).kind, Kind::Refused);
}

TEST(CallInStations, theStationsFileSaysHowEachCallerIsKnown)
{
    struct Case {
        const char *what;
        const char *text;
        const char *error; // empty: read
    } cases[] = {
        {"a station known by its ID",
         "[listen]\naddress = 4100\n[a]\ncall-in = north-1\ncall-in-id = every\nheartbeat = hex:00ff00ff\n"
         "interval = 15 min\noutput = a.csv\n",
         ""},
        {"a station known by its address", "[a]\ncall-in-from = 192.0.2.0/24\noutput = a.csv\n", ""},
        {"a port beside call-in", "[a]\ncall-in = x\nport = 1\noutput = a.csv\n", "calls in: it has no port"},
        {"a heartbeat too short to tell from data", "[a]\ncall-in = x\nheartbeat = PIN\noutput = a.csv\n",
         "a heartbeat is 4 to"},
        {"a heartbeat without call-in", "[a]\nport = 1\nheartbeat = PING\noutput = a.csv\n",
         "goes with call-in"},
        {"one ID the start of another",
         "[a]\ncall-in = north-1\noutput = a.csv\n[b]\ncall-in = north-10\noutput = b.csv\n", "begins with"},
        {"one ID twice", "[a]\ncall-in = n\noutput = a.csv\n[b]\ncall-in = n\noutput = b.csv\n", "have one ID"},
        {"the ID every packet with no ID", "[a]\ncall-in-from = 192.0.2.1/32\ncall-in-id = every\noutput = a.csv\n",
         "no call-in ID"},
        {"bad hex", "[a]\ncall-in = hex:0g\noutput = a.csv\n", "hex:"},
        {"an interval in no unit", "[a]\ncall-in = x\ninterval = 3 weeks\noutput = a.csv\n", "takes seconds"},
        {"a station key in [listen]", "[listen]\nport = 1\n[a]\ncall-in = x\noutput = a.csv\n",
         "unknown key in [listen]"},
        {"a bad subnet", "[a]\ncall-in-from = 300.1.1.1/8\noutput = a.csv\n", "address and a prefix"},
    };
    for (const Case &c : cases) {
        const auto file = ostrand::collect::parseStations(c.text, "s.ini", "/tmp");
        if (*c.error == 0)
            EXPECT_TRUE(file.error.isEmpty()) << c.what << ": " << qPrintable(file.error);
        else
            EXPECT_TRUE(file.error.contains(QLatin1String(c.error))) << c.what << ": " << qPrintable(file.error);
    }
    const auto file = ostrand::collect::parseStations(cases[0].text, "s.ini", "/tmp");
    ASSERT_EQ(file.stations.size(), 1u);
    EXPECT_EQ(file.listenAddress, "4100");
    EXPECT_EQ(file.stations[0].callIn->heartbeat, QByteArray::fromHex("00ff00ff"));
    EXPECT_TRUE(file.stations[0].callIn->idEveryPacket);
    EXPECT_EQ(file.stations[0].intervalMs, 15 * 60000);
}

} // namespace

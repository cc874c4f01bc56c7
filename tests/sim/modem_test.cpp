#include "hayes_modem.h"

#include <gtest/gtest.h>

using namespace ostrand::sim;

namespace {

// A modem brought online the way the dialer does it; connected at 2600 ms.
HayesModem onlineModem()
{
    HayesModem modem{ModemSettings{}};
    modem.receive("\r", 0);
    modem.receive("AT\r", 1000);
    modem.receive("ATDT 5551234\r", 1100);
    modem.tick(2600);
    EXPECT_TRUE(modem.online());
    return modem;
}

} // namespace

TEST(HayesModem, AnswersAttentionWithOkAndADialWithConnectAfterTheDelay)
{
    HayesModem modem{ModemSettings{}};
    EXPECT_EQ(modem.receive("\r", 0).toComputer, QByteArray("\r"))
        << "an empty line gets no result";
    EXPECT_EQ(modem.receive("AT\r", 1000).toComputer, QByteArray("AT\r\r\nOK\r\n"))
        << "echo, then CR LF framed";
    EXPECT_EQ(modem.receive("ATDT 5551234\r", 1100).toComputer, QByteArray("ATDT 5551234\r"));
    EXPECT_EQ(modem.nextDeadline(), 1100 + 1500);
    EXPECT_TRUE(modem.tick(2599).toComputer.isEmpty());
    EXPECT_EQ(modem.tick(2600).toComputer, QByteArray("\r\nCONNECT 9600\r\n"));
    EXPECT_TRUE(modem.online());
}

TEST(HayesModem, PassesDataToTheMeterWhileConnectedWithoutEcho)
{
    HayesModem modem = onlineModem();
    const ModemOutput out = modem.receive(QByteArray::fromHex("0103004C000885DB"), 9000);
    EXPECT_EQ(out.toMeter, QByteArray::fromHex("0103004C000885DB"));
    EXPECT_TRUE(out.toComputer.isEmpty());
}

TEST(HayesModem, EscapesOnlyWithPlusPlusPlusAloneForTheGuardTimeAndHangsUpOnAth0)
{
    HayesModem modem = onlineModem();
    modem.receive("+++", 9000);
    EXPECT_TRUE(modem.online()) << "still data until the guard time has passed";
    EXPECT_EQ(modem.tick(10000).toComputer, QByteArray("\r\nOK\r\n"));
    EXPECT_TRUE(modem.receive("ATH0\r", 11000).toComputer.endsWith("\r\nOK\r\n"));
    EXPECT_EQ(modem.state(), HayesModem::State::Command);
    EXPECT_TRUE(modem.receive(QByteArray::fromHex("0103004C000885DB"), 12000).toMeter.isEmpty());
    modem = onlineModem();
    modem.receive(QByteArray::fromHex("01102B2B2B"), 9000);
    EXPECT_TRUE(modem.tick(12000).toComputer.isEmpty());
    modem.receive("+++", 13000);
    modem.receive("x", 13400);
    EXPECT_TRUE(modem.tick(15000).toComputer.isEmpty());
    EXPECT_TRUE(modem.online());
}

TEST(HayesModem, ReportsAConfiguredFailureLetsAKeyAbortADialAndIgnoresNoiseBeforeAt)
{
    ModemSettings busy;
    busy.dialResult = QStringLiteral("BUSY");
    HayesModem modem(busy);
    modem.receive("ATDT 1\r", 0);
    EXPECT_EQ(modem.tick(1500).toComputer, QByteArray("\r\nBUSY\r\n"));
    modem.receive("ATDT 1\r", 2000);
    EXPECT_EQ(modem.receive("\r", 2500).toComputer, QByteArray("\r\nNO CARRIER\r\n"));
    EXPECT_EQ(modem.nextDeadline(), -1);
    modem = HayesModem{ModemSettings{}};
    EXPECT_TRUE(modem.receive(QByteArray::fromHex("01634009") + "AT\r", 0)
                    .toComputer.endsWith("\r\nOK\r\n"));
    EXPECT_EQ(modem.receive("ate0\r", 10).toComputer, QByteArray("ate0\r\r\nOK\r\n"));
    EXPECT_EQ(modem.receive("at\r", 20).toComputer, QByteArray("\r\nOK\r\n"));
}

#include "line/line_options.h"
#include "qt_printers.h"

#include <QCommandLineParser>
#include <gtest/gtest.h>

namespace ostrand {
namespace {

// The choice as one text, or the usage problem.
QString read(const QStringList &arguments, const QList<LineKey> &keys = kMeterLineKeys)
{
    QCommandLineParser parser;
    addLineOptions(parser, keys);
    if (!parser.parse(QStringList{QStringLiteral("ostrand-cli")} + arguments))
        return parser.errorText();
    QString problem;
    const auto choice = lineChoiceFrom(parser, keys, QStringLiteral("download"), &problem);
    if (!choice)
        return problem;
    QString text = QStringLiteral("COM%1 '%2' %3 slave %4, %5 ms%6%7")
                       .arg(choice->comNumber)
                       .arg(choice->devicePath, choice->baud)
                       .arg(choice->slave)
                       .arg(choice->replyTimeoutMs)
                       .arg(choice->requestGapMs ? QStringLiteral(", gap %1 ms").arg(choice->requestGapMs) : QString())
                       .arg(choice->echo ? QStringLiteral(", echo") : QString());
    if (!choice->networkAddress.isEmpty() || choice->connectTimeoutMs != LineChoice{}.connectTimeoutMs)
        text += QStringLiteral(" at '%1' within %2 ms").arg(choice->networkAddress).arg(choice->connectTimeoutMs);
    return text;
}

const QString kBadPort = QStringLiteral("--port takes COM1 to COM4, a device path, or a device server's "
                                        "tcp://HOST:PORT or rfc2217://HOST:PORT (port 1 to 65535)");
const QString kBadConnect = QStringLiteral("--connect-timeout takes milliseconds from 1 to 300000");
const QString kBadBaud = QStringLiteral("--baud takes 1200, 2400, 4800, 9600, 14400, 19200 or 38400");
const QString kBadSlave = QStringLiteral("--slave takes a number from 0 to 255");
const QString kBadReply = QStringLiteral("--reply-timeout takes milliseconds from 0 to 60000");
const QString kBadGap = QStringLiteral("--request-gap takes milliseconds from 0 to 1000");
const QString kPlain = QStringLiteral("COM1 '' 38400 slave 1, 0 ms");

// A command is offered only the options it takes.
TEST(LineOptions, everyOptionTakesItsValuesAndRefusesTheRestInItsOwnWordsOnlyForTheCommandsThatTakeIt)
{
    const struct {
        QStringList arguments;
        QString read;
        QList<LineKey> keys = kMeterLineKeys;
    } rows[] = {
        {{"--port", "COM1"}, kPlain}, {{"--port", "com4"}, "COM4 '' 38400 slave 1, 0 ms"},
        {{"--port", "Com2"}, "COM2 '' 38400 slave 1, 0 ms"},
        // Past COM4 or around the pattern, the text is a file's name, as a device path is.
        {{"--port", "COM5"}, "COM1 'COM5' 38400 slave 1, 0 ms"}, {{"--port", "COM0"}, "COM1 'COM0' 38400 slave 1, 0 ms"},
        {{"--port", "COM10"}, "COM1 'COM10' 38400 slave 1, 0 ms"}, {{"--port", "xCOM1"}, "COM1 'xCOM1' 38400 slave 1, 0 ms"},
        {{"--port", "/dev/ttyUSB0"}, "COM1 '/dev/ttyUSB0' 38400 slave 1, 0 ms"},
        {{"--port", "ttyS1"}, "COM1 'ttyS1' 38400 slave 1, 0 ms"}, {{"--port", "-x"}, kBadPort}, {{"--port", ""}, kBadPort},
        // A device server's address is no file name, right or wrong.
        {{"--port", "tcp://10.0.0.7:4001"}, kPlain + " at 'tcp://10.0.0.7:4001' within 10000 ms"},
        {{"--port", "RFC2217://gw:2001", "--connect-timeout", "300000"}, kPlain + " at 'rfc2217://gw:2001' within 300000 ms"},
        {{"--port", "tcp://[fe80::1]:502"}, kPlain + " at 'tcp://[fe80::1]:502' within 10000 ms"},
        {{"--port", "tcp://10.0.0.7"}, kBadPort}, {{"--port", "tcp://10.0.0.7:4001/"}, kBadPort},
        {{"--port", "tcp://:4001"}, kBadPort}, {{"--port", "tcp://10.0.0.7:70000"}, kBadPort},
        {{"--port", "telnet://10.0.0.7:23"}, kBadPort}, {{"--port", "COM2", "--connect-timeout", "0"}, kBadConnect},
        {{"--port", "COM2", "--connect-timeout", "300001"}, kBadConnect},
        {{}, "download needs --port"}, {{"--baud", "9600"}, "download needs --port"},
        {{"--port", "COM1", "--baud", "1200"}, "COM1 '' 1200 slave 1, 0 ms"},
        {{"--port", "COM1", "--baud", "14400"}, "COM1 '' 14400 slave 1, 0 ms"},
        {{"--port", "COM1", "--baud", "115200"}, kBadBaud}, {{"--port", "COM1", "--baud", "9601"}, kBadBaud},
        {{"--port", "COM1", "--baud", ""}, kBadBaud}, {{"--port", "COM1", "--slave", "0"}, "COM1 '' 38400 slave 0, 0 ms"},
        {{"--port", "COM1", "--slave", "255"}, "COM1 '' 38400 slave 255, 0 ms"},
        {{"--port", "COM1", "--slave", "256"}, kBadSlave}, {{"--port", "COM1", "--slave", "-1"}, kBadSlave},
        {{"--port", "COM1", "--slave", "7x"}, kBadSlave},
        {{"--port", "COM1", "--reply-timeout", "60000"}, "COM1 '' 38400 slave 1, 60000 ms"},
        {{"--port", "COM1", "--reply-timeout", "60001"}, kBadReply}, {{"--port", "COM1", "--reply-timeout", "-1"}, kBadReply},
        {{"--port", "COM1", "--reply-timeout", "1.5"}, kBadReply}, {{"--port", "COM1", "--request-gap", "1001"}, kBadGap},
        {{"--port", "COM1", "--echo"}, kPlain + ", echo"},
        // The first wrong option in the order port, baud, slave, reply time is the one named.
        {{"--port", "-x", "--baud", "1"}, kBadPort},
        {{"--port", "COM3", "--baud", "1", "--slave", "999", "--reply-timeout", "x"}, kBadBaud},
        {{"--port", "COM3", "--slave", "999", "--reply-timeout", "x"}, kBadSlave},
        {{"--port", "COM3", "--baud", "4800", "--slave", "17", "--reply-timeout", "900"}, "COM3 '' 4800 slave 17, 900 ms"},
        {{"--port", "COM2", "--baud", "2400"}, "COM2 '' 2400 slave 1, 0 ms", kModemLineKeys},
        {{"--port", "COM2", "--slave", "3"}, "Unknown option 'slave'.", kModemLineKeys},
        {{"--port", "COM2", "--reply-timeout", "3"}, "Unknown option 'reply-timeout'.", kModemLineKeys},
        // collect takes only the reply time, the stations' default, and needs no port.
        {{}, kPlain, {LineKey::ReplyTimeout}},
        {{"--reply-timeout", "1500"}, "COM1 '' 38400 slave 1, 1500 ms", {LineKey::ReplyTimeout}},
        {{"--reply-timeout", "70000"}, kBadReply, {LineKey::ReplyTimeout}},
        {{"--request-gap", "50", "--echo"}, kPlain + ", gap 50 ms, echo", kStationDefaultKeys},
        {{"--port", "COM2", "--echo"}, "Unknown option 'echo'.", kModemLineKeys},
        {{"--port", "COM1"}, "Unknown option 'port'.", {LineKey::ReplyTimeout}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(read(row.arguments, row.keys), row.read) << qPrintable(row.arguments.join(u' '));
}

TEST(LineValues, aPortGivenAgainReplacesTheOneBefore)
{
    const struct {
        const char *first, *second;
        int comNumber;
        const char *devicePath;
    } rows[] = {
        {"/dev/ttyUSB0", "COM3", 3, ""},
        {"COM3", "/dev/ttyUSB0", 1, "/dev/ttyUSB0"},
        {"COM3", "-x", 3, ""}, // a refused value leaves the choice as it was
    };
    for (const auto &row : rows) {
        LineChoice choice;
        takeLineValue(choice, LineKey::Port, row.first);
        takeLineValue(choice, LineKey::Port, row.second);
        EXPECT_EQ(choice.comNumber, row.comNumber) << row.second;
        EXPECT_EQ(choice.devicePath, QString(row.devicePath)) << row.second;
    }
}

} // namespace
} // namespace ostrand

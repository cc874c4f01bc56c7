#include "platform/com_port_names.h"
#include "platform/file_locations.h"
#include "platform/port_holder.h"
#include "platform/qt_event_pump.h"
#include "platform/qt_serial_port.h"
#include "platform/system_clock.h"
#include "pseudo_terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include "platform/file_identity.h"
#include "platform/kept_copy.h"
#include "platform/save_file.h"
#include "platform/small_file.h"
#include "platform/text_value.h"
#include "file_bytes.h"
#include <fcntl.h>
#include <sys/stat.h>
#include "platform/accepted_port.h"
#include "platform/caller_reception.h"
#include "platform/pumped_wait.h"
#include <deque>
#include "platform/network_port.h"
#include "platform/telnet_codec.h"
#include "virtual_clock.h"
#include "virtual_event_pump.h"
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

namespace ostrand {
namespace {

// A pretend program folder with COM1 linked to a pty that stands in for the cable.
class ComLinkedPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(programDir.isValid() && pty.isValid());
        ASSERT_TRUE(QFile::link(pty.slavePath(), comPath(1)));
    }
    QString comPath(int n) const { return programDir.filePath(QStringLiteral("COM%1").arg(n)); }
    QTemporaryDir programDir;
    PseudoTerminal pty;
};

using ComPortNames = ComLinkedPty;

TEST_F(ComPortNames, ALinkOrFileBesideTheProgramIsThatPortsDeviceAMissingTargetIsKeptAndElseTtySn)
{
    testing::writeFileBytes(comPath(2), {});
    ASSERT_TRUE(QFile::link(programDir.filePath("no-such-adapter"), comPath(4)));
    const QString device = QFileInfo(pty.slavePath()).canonicalFilePath();
    EXPECT_EQ(resolveComDevice(programDir.path(), 1), device);
    EXPECT_EQ(resolveComDevice(programDir.path(), 2), QFileInfo(comPath(2)).canonicalFilePath());
    EXPECT_EQ(resolveComDevice(programDir.path(), 4), comPath(4)) << "no fall-back to another port";
    EXPECT_EQ(resolveComDevice(programDir.path(), 3), "/dev/ttyS2");

    // An installed program looks in the user's folder first, then beside itself.
    QTemporaryDir userDir;
    ASSERT_TRUE(QFile::link("/dev/null", userDir.filePath("COM2")));
    EXPECT_EQ(resolveComDevice({userDir.path(), programDir.path()}, 2), "/dev/null");
    EXPECT_EQ(resolveComDevice({userDir.path(), programDir.path()}, 1), device);
}

// Permissions do not bind root: those rows run when the suite runs as an ordinary user, as CI does.
TEST(FileLocations, PortableWhenTheProgramsFolderIsWritableOrHoldsTheSettingsElsePerUser)
{
    const struct {
        bool writable, holdsSettings, portable;
    } rows[] = {{true, false, true}, {false, true, true}, {false, false, false}};
    for (const auto &r : rows) {
        if (!r.writable && ::geteuid() == 0)
            continue;
        QTemporaryDir program, user;
        if (r.holdsSettings)
            testing::writeFileBytes(QDir(program.path()).filePath("7700dwn.ini"), {});
        const auto mode = QFile::permissions(program.path());
        if (!r.writable) {
            ASSERT_TRUE(QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner));
        }
        const FileLocations at = chooseFileLocations(program.path(), user.path(), "/home/op");
        QFile::setPermissions(program.path(), mode);
        EXPECT_EQ(at.portable, r.portable) << r.writable << r.holdsSettings;
        const QStringList linkDirs =
            r.portable ? QStringList{program.path()} : QStringList{user.path(), program.path()};
        EXPECT_EQ(at.comLinkDirs(), linkDirs);
        EXPECT_EQ(at.dataDir, r.portable ? program.path() : "/home/op");
    }
}

class QtSerialPortTest : public ComLinkedPty {
protected:
    // Pumps events until `count` bytes are in or the port has closed; the deadline
    // only guards against a hang.
    bool receive(int count)
    {
        QElapsedTimer timer;
        timer.start();
        while (port.receivedCount() < count && port.isOpen() && timer.elapsed() < 5000)
            pump.yield(20);
        return port.receivedCount() >= count;
    }
    QtSerialPort port{programDir.path()};
    QtEventPump pump;
};

// The round trip itself is left to the end-to-end downloads, which cannot tell a discard that does nothing.
// An adapter pulled takes its link along: the port must not go on as the system's COM1.
TEST_F(QtSerialPortTest, DiscardsWhatHasArrivedButNotWhatComesAfterAndAComLinkThatVanishedIsNamedNeverReplaced)
{
    const QString device = QFileInfo(pty.slavePath()).canonicalFilePath();
    ASSERT_TRUE(port.open(1, "19200")) << port.errorString().toStdString();
    ASSERT_TRUE(pty.write("stale"));
    ASSERT_TRUE(receive(5));
    port.discardInput();
    EXPECT_EQ(port.receivedCount(), 0);
    ASSERT_TRUE(pty.write("new"));
    ASSERT_TRUE(receive(3));
    EXPECT_EQ(port.read(100), QByteArray("new"));

    EXPECT_FALSE(port.leadsElsewhere(1));
    ASSERT_TRUE(QFile::remove(comPath(1)));
    EXPECT_TRUE(port.leadsElsewhere(1)) << "the open line is no longer COM1";
    port.close();
    EXPECT_FALSE(port.open(1, "9600"));
    EXPECT_EQ(port.errorString(), "COM1: its link to " + device + " is gone: adapter unplugged?");
    EXPECT_EQ(resolveComDevice(programDir.path(), 1), "");
    EXPECT_EQ(describeComDevice(programDir.path(), 1), "COM1 → " + device + " (link gone)");

    ASSERT_TRUE(QFile::link(pty.slavePath(), comPath(1)));
    EXPECT_TRUE(port.open(1, "9600")) << "the link put back is used again: " << port.errorString().toStdString();
    EXPECT_EQ(port.deviceName(), device);
}

// The window and the command line show this text through the download's detail line.
TEST_F(QtSerialPortTest, RefusesWithAReasonABadBaudRateNoPortOrADeviceThatCannotBeHad)
{
    ASSERT_TRUE(QFile::link(programDir.filePath("gone"), comPath(2)));
    const struct {
        int number;
        const char *baud, *reason;
    } refused[] = {{1, "", "Baud"},     {1, "fast", "Baud"}, {1, "0", "Baud"}, {1, "-9600", "Baud"},
                   {1, "96OO", "Baud"}, {2, "9600", "COM2"}, {0, "9600", "COM"}};
    for (const auto &r : refused) {
        EXPECT_FALSE(port.open(r.number, r.baud)) << r.number << " " << r.baud;
        EXPECT_TRUE(port.errorString().contains(r.reason)) << port.errorString().toStdString();
    }

    ASSERT_TRUE(port.open(1, "9600")); // as another program holding the line
    const QString regular = programDir.filePath("notes.txt"), locked = programDir.filePath("ttyLocked");
    for (const QString &file : {regular, locked})
        ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    const QString rows[][2] = {{programDir.filePath("ttyGone"), QString::fromLocal8Bit(std::strerror(ENOENT))},
                               {regular, "not a serial device"},
                               {pty.slavePath(), "port in use by another program"},
                               {locked, QString::fromLocal8Bit(std::strerror(EACCES)) + ". Using " + locked}};
    for (const auto &[device, reason] : rows) {
        if (device == locked && ::geteuid() == 0)
            continue; // permissions do not bind root
        QtSerialPort named(programDir.path());
        named.setDeviceOverride(device);
        EXPECT_FALSE(named.open(1, "9600"));
        EXPECT_TRUE(named.errorString().startsWith("Cannot open " + device + ": ") && named.errorString().contains(reason))
            << named.errorString().toStdString();
    }
}

TEST_F(QtSerialPortTest, TheProgramHoldingThePortIsNamedFromTheSystemsLockList)
{
    const struct {
        const char *line;
        qint64 pid; // 0: not this device's granted flock
    } rows[] = {
        {"1: FLOCK  ADVISORY  WRITE 4242 00:19:3 0 EOF", 4242},
        {"1: -> FLOCK  ADVISORY  WRITE 4243 00:19:3 0 EOF", 0}, // a waiter, not the holder
        {"2: POSIX  ADVISORY  WRITE 4244 00:19:3 0 EOF", 0},
        {"3: FLOCK  ADVISORY  WRITE 4245 00:19:30 0 EOF", 0}, // another inode
        {"4: FLOCK  ADVISORY  WRITE x 00:19:3 0 EOF", 0},
        {"", 0},
    };
    for (const auto &row : rows)
        EXPECT_EQ(flockHolderIn(row.line, "00:19:3").value_or(0), row.pid) << row.line;

    EXPECT_FALSE(findPortHolder(pty.slavePath()).has_value()) << "nobody holds it yet";
    ASSERT_TRUE(port.open(1, "9600"));
    const auto holder = findPortHolder(pty.slavePath());
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->pid, ::getpid());
    EXPECT_EQ(holder->program, QFileInfo(QFile::symLinkTarget("/proc/self/exe")).fileName())
        << "the whole name, past the kernel's 15 characters";
    EXPECT_EQ(portInUseReason(pty.slavePath()), QStringLiteral("port in use by another program (%1, process %2)")
                                                    .arg(holder->program)
                                                    .arg(::getpid()));
}

// The clock only bounds the loops, so a faulty pump fails by missing a deadline instead of hanging.
TEST(QtEventPumpTest, AYieldSleepsUntilTheNextEventAndRunsNestedYieldsWhileASleepRunsNothing)
{
    QtEventPump pump;
    QElapsedTimer guard;
    guard.start();
    const auto inTime = [&] { return guard.elapsed() < 5000; };
    // Ten ticks 20 ms apart: a spinning yield loops thousands of times meanwhile, and one that
    // sat out its whole second would not see ten before the guard.
    int ticks = 0, yields = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    for (; ticks < 10 && inTime(); ++yields)
        pump.yield(1000);
    ticker.stop();
    EXPECT_GE(ticks, 10);
    EXPECT_LT(yields, 100);

    bool handled = false, later = false, innerDone = false;
    QTimer::singleShot(0, [&] { handled = true; });
    pump.sleep(30);
    EXPECT_FALSE(handled);
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(10, [&] { later = true; });
        while (!later && inTime())
            pump.yield(1000);
        innerDone = true;
    });
    while (!innerDone && inTime())
        pump.yield(1000);
    EXPECT_TRUE(handled && later && innerDone);
}

TEST(TextValue, NumbersAreReadFromTheStartAndHalvesRoundToTheEvenNeighbour)
{
    const std::pair<const char *, double> cases[] = {
        {"001", 1}, {"12ab", 12}, {" -2.5x", -2.5}, {".5", 0.5}, {"abc", 0}, {"-", 0}, {"x12", 0}};
    for (const auto &[text, value] : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(text), value) << text;
    const std::pair<double, double> rounding[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4},
                                               {2.4, 2}, {2.6, 3}, {-2.6, -3}};
    for (const auto &[value, rounded] : rounding)
        EXPECT_EQ(roundHalfEven(value), rounded) << value;
    // Sixteen-bit values are rounded into range or refused, never wrapped.
    const std::optional<qint16> none;
    const std::pair<const char *, std::optional<qint16>> leading[] = {
        {"32767", 32767}, {"-32768.5", -32768}, {"12ab", 12},      {"abc", 0},
        {"32768", none},  {"32767.5", none},    {"1000000", none}, {"-32769", none}};
    for (const auto &[text, value] : leading)
        EXPECT_EQ(leadingNumberAsInt16(text), value) << text;
    const std::pair<const char *, std::optional<qint16>> whole[] = {
        {" 1", 1},  {"-1", -1},   {"2.5", 2},    {"3.5 ", 4},    {"1x", none},
        {"", none}, {"  ", none}, {"abc", none}, {"40000", none}};
    for (const auto &[text, value] : whole)
        EXPECT_EQ(wholeTextAsInt16(text), value) << text;
}

TEST(AtomicFileWrite, ReplacesTheFileExactlyOrOnFailureGivesAReasonAndLeavesTheOldOneAndNoTemporary)
{
    QTemporaryDir dir;
    const QByteArray bytes("a,b\r\n\0\xff", 7);
    ASSERT_TRUE(saveFile(dir.filePath("out.csv"), QByteArray(1000, 'x')));
    ASSERT_TRUE(saveFile(dir.filePath("out.csv"), bytes));
    EXPECT_EQ(testing::readFileBytes(dir.filePath("out.csv")), bytes);
    // A name at the length limit has no room for the temporary file's suffix, so the write
    // fails beside an existing file even for a superuser.
    const QString longName(255, u'n');
    testing::writeFileBytes(dir.filePath(longName), "old");
    for (const QString &path : {dir.filePath(longName), dir.filePath("missing/out.csv")}) {
        QString error;
        EXPECT_FALSE(saveFile(path, "new", &error)) << path.toStdString();
        EXPECT_FALSE(error.isEmpty()) << path.toStdString();
    }
    EXPECT_EQ(testing::readFileBytes(dir.filePath(longName)), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{longName, "out.csv"}));
}

// Where hard links are not to be had, a file is kept by a copy that looks as it did.
TEST(KeptCopy, ACopyAsNewHasTheBytesModeAndDateOfTheFileAndNeverWritesOverAName)
{
    QTemporaryDir dir;
    const QString from = dir.filePath("Logdata.csv"), to = dir.filePath("Logdata.csv.1");
    const QByteArray bytes = QByteArray("a,b\r\n\0\xff", 7).repeated(20000); // beyond one buffer
    ASSERT_TRUE(saveFile(from, bytes));
    ASSERT_EQ(::chmod(QFile::encodeName(from).constData(), 0640), 0);
    const struct timespec times[2] = {{1'600'000'000, 5}, {1'600'000'100, 7}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(from).constData(), times, 0), 0);
    const mode_t mask = ::umask(077); // a umask that would narrow the mode
    QString error;
    const bool copied = copyFileAsNew(from, to, &error);
    ::umask(mask);
    ASSERT_TRUE(copied) << qPrintable(error);
    EXPECT_EQ(testing::readFileBytes(to), bytes);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(to).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'600'000'100);

    ASSERT_TRUE(saveFile(to, "kept before"));
    EXPECT_FALSE(copyFileAsNew(from, to, &error));
    EXPECT_TRUE(error.contains(to)) << qPrintable(error);
    EXPECT_EQ(testing::readFileBytes(to), "kept before");
}

TEST(SameFile, NamesMeetThroughLinkedFoldersLinksAndHardLinksWhetherOrNotTheFileExists)
{
    QTemporaryDir dir;
    const auto at = [&](const char *name) { return dir.filePath(name); };
    ASSERT_TRUE(QDir(dir.path()).mkdir("data") && QFile::link(at("data"), at("alias")));
    ASSERT_TRUE(QFile(at("data/a.csv")).open(QIODevice::WriteOnly) && QFile(at("data/b.csv")).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link("a.csv", at("data/link.csv")) && QFile::link(at("data/new.csv"), at("dangling.csv")));
    ASSERT_EQ(::link(QFile::encodeName(at("data/a.csv")).constData(), QFile::encodeName(at("data/hard.csv")).constData()), 0);
    const struct { const char *a, *b; bool same; } cases[] = {
        {"data/a.csv", "alias/a.csv", true},    {"data/new.csv", "alias/new.csv", true}, {"data/a.csv", "data/hard.csv", true},
        {"data/a.csv", "data/link.csv", true},  {"dangling.csv", "data/new.csv", true},  {"data/a.csv", "data/b.csv", false},
        {"data/new.csv", "data/old.csv", false}, {"data/new.csv", "new.csv", false},     {"data/a.csv", "data/new.csv", false},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(sameFile(at(c.a), at(c.b)) == c.same && sameFile(at(c.b), at(c.a)) == c.same) << c.a << " and " << c.b;
}

// Its size limit and the kinds of file it refuses are the stations file's test (StationsFile.onlyARegularFileOfSensibleSizeIsRead).
TEST(SmallFileRead, refusesALinkWhenAsked)
{
    QTemporaryDir dir;
    constexpr qint64 kLimit = 100000;
    const QString target = dir.filePath("target");
    testing::writeFileBytes(target, QByteArray(10, 'x'));
    ASSERT_TRUE(QFile::link(target, dir.filePath("link")));
    EXPECT_EQ(readSmallFile(dir.filePath("link"), kLimit, Links::Follow).bytes.size(), 10);
    const SmallFile refused = readSmallFile(dir.filePath("link"), kLimit, Links::Refuse);
    EXPECT_EQ(refused.check.state, FileState::NotRegular);
    EXPECT_EQ(refused.check.problem, dir.filePath("link") + " is a symbolic link");
    EXPECT_EQ(readSmallFile(dir.filePath("none"), kLimit, Links::Refuse).check.state, FileState::Missing);
}

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
std::string shown(const QByteArray &bytes) { return bytes.toHex(' ').toStdString(); }

TEST(TelnetCodec, TheClientAsksForBinaryNoGoAheadsAndPortControlSetsTheSpeedAnd8N1AndLeavesTheLinesBytesWhole)
{
    EXPECT_EQ(shown(TelnetCodec().opening()), shown(hex("fffb00 fffd00 fffb03 fffd03 fffb2c")));
    EXPECT_EQ(shown(TelnetCodec::portSettings(38400)),
              shown(hex("fffa2c01 00009600 fff0 fffa2c02 08 fff0 fffa2c03 01 fff0 fffa2c04 01 fff0")));
    // A speed with a 0xFF byte in it must not end the subnegotiation early.
    EXPECT_EQ(shown(TelnetCodec::portSettings(0x1FF).left(11)), shown(hex("fffa2c01 000001ffff fff0")));
    EXPECT_EQ(shown(TelnetCodec::encode(hex("ff 01 ff ff"))), shown(hex("ffff 01 ffff ffff")));

    // Commands from the server leave the line's bytes whole and are answered once, even split across reads.
    using PortControl = TelnetCodec::PortControl;
    const struct {
        const char *name;
        QList<const char *> reads;
        const char *data, *reply;
        PortControl control;
        std::uint32_t baud; // acknowledged; 0 for none
    } cases[] = {
        {"a doubled 0xFF is one data byte", {"01 ffff 02"}, "01ff02", "", PortControl::Pending, 0},
        {"port control granted, split", {"01 ff", "fd", "2c 02"}, "0102", "", PortControl::Accepted, 0},
        {"port control refused", {"fffe2c"}, "", "fffc2c", PortControl::Refused, 0},
        {"the server's echo is declined", {"fffb01 03 fffd01"}, "03", "fffe01 fffc01", PortControl::Pending, 0},
        {"options already asked for need no answer", {"fffb00 fffd00 fffb03"}, "", "", PortControl::Pending, 0},
        {"the speed acknowledged, split inside", {"05 fffa2c65 0000", "9600 ff", "f0 06"}, "0506", "",
         PortControl::Pending, 38400},
        {"a doubled 0xFF inside a subnegotiation", {"fffa2c65 000001ffff fff0"}, "", "", PortControl::Pending, 0x1FF},
        {"other commands carry nothing", {"01 fff1 02 fff9"}, "0102", "", PortControl::Pending, 0},
    };
    for (const auto &c : cases) {
        TelnetCodec codec;
        codec.opening();
        TelnetCodec::Decoded all;
        for (const char *read : c.reads) {
            const TelnetCodec::Decoded decoded = codec.decode(hex(read));
            all = {all.data + decoded.data, all.reply + decoded.reply};
        }
        EXPECT_EQ(shown(all.data), shown(hex(c.data))) << c.name;
        EXPECT_EQ(shown(all.reply), shown(hex(c.reply))) << c.name;
        EXPECT_EQ(codec.portControl(), c.control) << c.name;
        EXPECT_EQ(codec.acknowledgedBaud().value_or(0), c.baud) << c.name;
    }
}

// A device server speaking RFC 2217 on 127.0.0.1: it grants port control and,
// once the client has asked for all four settings, answers with `acknowledgements`.
class ScriptedServer {
public:
    explicit ScriptedServer(QByteArray acknowledgements) : acknowledgements_(std::move(acknowledgements))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            QTcpSocket *client = server_.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, client, [this, client] {
                received_ += client->readAll();
                if (!granted_ && received_.contains(hex("fffb2c")))
                    granted_ = true, client->write(hex("fffd2c"));
                if (!answered_ && received_.contains(hex("fffa2c04")))
                    answered_ = true, client->write(acknowledgements_);
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    QTcpServer server_;
    QByteArray acknowledgements_, received_;
    bool granted_ = false, answered_ = false;
};

// Before, only the speed's acknowledgement was awaited and never compared: a server
// that kept 9600 gave 30 s of "no answer, check the baud rate" for every exchange.
TEST(NetworkPort, EachSettingTheServerAcknowledgesIsComparedWithTheOneAskedAndADifferenceEndsTheConnectAtOnce)
{
    const auto differs = [](const char *setting) {
        return QStringLiteral("%1 set ") + setting + ": check what the device server's serial port allows";
    };
    const auto acks = [](const char *speed, int size = 8, int parity = 1, int stop = 1) { // settings 101 to 104
        return QString::asprintf("fffa2c65 %s fff0 fffa2c66 %02x fff0 fffa2c67 %02x fff0 fffa2c68 %02x fff0", speed,
                                 size, parity, stop).toLatin1();
    };
    const struct {
        const char *what;
        QByteArray acknowledgements;
        QString error; // %1 the address; empty: the port opens
        int limitMs = 5000; // the connect's
    } rows[] = {
        {"all as asked", acks("00009600"), ""},
        {"in another order", "fffa2c68 01 fff0 fffa2c67 01 fff0 fffa2c66 08 fff0 fffa2c65 00009600 fff0", ""},
        {"a value of 0 tells nothing", acks("00009600", 0), ""},
        {"another speed", acks("00002580"), differs("the serial speed to 9600 baud, not the 38400 asked")},
        {"another data size", acks("00009600", 7), differs("the data size to 7 bits, not the 8 asked")},
        {"another parity", acks("00009600", 8, 3), differs("the parity to even, not the none asked")},
        {"other stop bits", acks("00009600", 8, 1, 3), differs("the stop bits to 1.5, not the 1 asked")},
        {"a wrong speed alone, the rest never acknowledged", "fffa2c65 00002580 fff0",
         differs("the serial speed to 9600 baud, not the 38400 asked")},
        {"the stop bits never acknowledged: given up at the connect's time",
         "fffa2c65 00009600 fff0 fffa2c66 08 fff0 fffa2c67 01 fff0",
         "Cannot connect to %1: the device server did not confirm the serial port's settings within 0.5 s", 500},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server(QByteArray::fromHex(row.acknowledgements)); // fromHex skips the spaces
        SystemClock clock;
        QtEventPump pump;
        NetworkPort port({NetworkEndpoint::Protocol::Rfc2217, "127.0.0.1", server.port(), {}}, row.limitMs, clock, pump,
                         nullptr);
        QElapsedTimer took;
        took.start();
        const bool opened = port.open(1, QStringLiteral("38400"));
        EXPECT_EQ(opened, row.error.isEmpty());
        if (!opened) {
            EXPECT_EQ(port.errorString(), row.error.arg(port.endpoint().address()));
        }
        EXPECT_LT(took.elapsed(), 2000) << "a difference is said at once, not at the 5 s limit";
    }
}

// Real loopback sockets on this thread's event loop, as a line worker runs them.
struct Loopback {
    SystemClock clock;
    QtEventPump pump;

    bool pumpUntil(const std::function<bool()> &done, int withinMs = 3000)
    {
        return waitPumped(clock, pump, nullptr, done, clock.monotonicMs() + withinMs) == PumpedWait::Done;
    }
    // A router calling: connected once the system has taken the connection.
    std::unique_ptr<QTcpSocket> call(quint16 port)
    {
        auto caller = std::make_unique<QTcpSocket>();
        caller->connectToHost(QStringLiteral("127.0.0.1"), port);
        pumpUntil([&] { return caller->state() == QAbstractSocket::ConnectedState; });
        return caller;
    }
    // Reads from a port or a caller until `count` bytes came or the time is up.
    template <class From> QByteArray readFrom(From &from, int count)
    {
        QByteArray got;
        pumpUntil([&] {
            if constexpr (std::is_base_of_v<SerialPort, From>)
                got += from.read(count - static_cast<int>(got.size()));
            else
                got += from.readAll();
            return got.size() >= count;
        });
        return got;
    }
};

// A reception on a free loopback port; a caller is taken once it sent `takeAfter` bytes (0: at
// once), and its port made as the thread serving it makes it.
struct Listening : Loopback {
    explicit Listening(int takeAfter = 0, CallerReception::Limits limits = {})
        : reception(
              clock, limits,
              [takeAfter](const PendingCaller &caller, bool) {
                  return caller.bytes.size() >= takeAfter
                             ? CallerVerdict{CallerVerdict::Kind::Take, 0, {}, caller.bytes}
                             : CallerVerdict{};
              },
              [this](PendingCaller caller, int) { taken.push_back(std::move(caller)); },
              [this](const PendingCaller &, const QString &reason) { refusals << reason; })
    {
        EXPECT_TRUE(reception.listen(QStringLiteral("127.0.0.1"), 0)) << reception.errorString().toStdString();
    }
    bool pumpUntil(const std::function<bool()> &done, int withinMs = 3000)
    {
        return Loopback::pumpUntil([&] { reception.expire(); return done(); }, withinMs);
    }
    // The next caller taken, with what it sent before; null when none was within the time.
    std::unique_ptr<AcceptedPort> nextCaller(QByteArray *sentBefore = nullptr)
    {
        if (!pumpUntil([&] { return !taken.empty(); }))
            return nullptr;
        PendingCaller caller = std::move(taken.front());
        taken.pop_front();
        if (sentBefore)
            *sentBefore = caller.bytes;
        auto socket = std::make_unique<QTcpSocket>();
        EXPECT_TRUE(socket->setSocketDescriptor(caller.descriptor));
        return std::make_unique<AcceptedPort>(std::move(socket), reception.address());
    }
    std::deque<PendingCaller> taken;
    QStringList refusals;
    CallerReception reception;
};

// 0xFF bytes are data both ways, never Telnet; past the port's bound the caller is held back, and nothing is lost.
TEST(CallerReception, AnAcceptedCallerIsOpenAtOnceNamedByBothAddressesAndCarriesBytesBothWaysUnchanged)
{
    QByteArray fromCaller(3 * SocketPort::kMaxBufferedBytes + 17, '\0');
    for (int i = 0; i < fromCaller.size(); ++i)
        fromCaller[i] = static_cast<char>(i * 7);
    const QByteArray toCaller = hex("ff ff fd 2c");
    Listening net;
    ASSERT_NE(net.reception.port(), 0);
    auto caller = net.call(net.reception.port());
    caller->write(fromCaller);

    const auto port = net.nextCaller();
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->isOpen());
    EXPECT_TRUE(port->open(1, QStringLiteral("9600")));
    EXPECT_EQ(port->deviceName(), QStringLiteral("tcp caller 127.0.0.1:%1 on 127.0.0.1:%2")
                                      .arg(caller->localPort())
                                      .arg(net.reception.port()));

    // All sent before anything is read: what is not buffered here waits in the system.
    net.pumpUntil([&] { return caller->bytesToWrite() == 0; });
    net.pumpUntil([] { return false; }, 50);
    EXPECT_LE(port->receivedCount(), SocketPort::kMaxBufferedBytes);
    EXPECT_EQ(net.readFrom(*port, static_cast<int>(fromCaller.size())), fromCaller);
    EXPECT_TRUE(port->send(toCaller));
    EXPECT_EQ(shown(net.readFrom(*caller, static_cast<int>(toCaller.size()))), shown(toCaller));
}

TEST(CallerReception, ACallerThatNeverReadsEndsSendingWithTheReasonRatherThanGrowingTheBuffer)
{
    Listening net;
    auto caller = net.call(net.reception.port());
    caller->setReadBufferSize(1); // the kernel's buffers fill, then ours
    const auto port = net.nextCaller();
    ASSERT_TRUE(port);
    const QByteArray chunk(16 * 1024, 'x');
    int sent = 0;
    while (sent < 4096 && port->send(chunk)) {
        ++sent;
        net.pump.yield(0);
    }
    EXPECT_LT(sent, 4096) << "64 MB went into a caller that reads nothing";
    EXPECT_TRUE(port->errorString().contains(QLatin1String("takes nothing of what is sent")))
        << port->errorString().toStdString();
}

TEST(CallerReception, ACallerThatHangsUpLeavesWhatItSentAndALostLineWithTheReason)
{
    const struct {
        const char *what;
        QByteArray sentBeforeClose;
        bool takenBeforeClose;
    } rows[] = {
        {"hangs up right after the end of a reply", hex("01 03 02 0001 79 84"), true},
        {"hangs up before its line was made", hex("6e 6f 72 74 68 2d 31"), false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Listening net;
        auto caller = net.call(net.reception.port());
        const auto hangUp = [&] {
            caller->write(row.sentBeforeClose);
            caller->disconnectFromHost();
            net.pumpUntil([&] { return caller->state() == QAbstractSocket::UnconnectedState; });
        };
        if (!row.takenBeforeClose)
            hangUp();
        const auto port = net.nextCaller();
        ASSERT_TRUE(port);
        if (row.takenBeforeClose)
            hangUp();

        EXPECT_TRUE(net.pumpUntil([&] { return port->lineLost(); }));
        EXPECT_EQ(shown(port->read(1000)), shown(row.sentBeforeClose));
        const QString lost = QStringLiteral("lost the line to %1: closed by the far end").arg(port->deviceName());
        EXPECT_EQ(port->errorString(), lost);
        EXPECT_FALSE(port->open(1, QStringLiteral("9600"))) << "only the caller can call again";
        EXPECT_EQ(port->errorString(), lost);
    }
}

// Whoever reaches the port can call: callers not yet known are bounded in number from one
// address, in bytes and in time, and each is handed on with what it sent once it is known.
TEST(CallerReception, CallersNotYetKnownAreBoundedAndEachIsHandedOnWithWhatItSent)
{
    Listening net(7, {512, 2, 16, 400});
    std::vector<std::unique_ptr<QTcpSocket>> callers;
    for (int i = 0; i < 4; ++i)
        callers.push_back(net.call(net.reception.port()));
    EXPECT_TRUE(net.pumpUntil([&] { return net.refusals.size() == 2; })) << "two of four closed";
    EXPECT_EQ(net.refusals.value(0), "2 callers from this address are waiting to say who they are");
    callers[1]->write("north-2");
    ASSERT_TRUE(net.pumpUntil([&] { return net.taken.size() == 1; }));
    callers[0]->write("north-1 once more");
    QByteArray sentBefore[2];
    std::unique_ptr<AcceptedPort> ports[2];
    for (int i = 0; i < 2; ++i)
        ports[i] = net.nextCaller(&sentBefore[i]);
    ASSERT_TRUE(ports[0] && ports[1]);
    EXPECT_EQ(ports[0]->peerAddress(), QStringLiteral("127.0.0.1:%1").arg(callers[1]->localPort()));
    EXPECT_EQ(sentBefore[0], "north-2");
    EXPECT_EQ(sentBefore[1] + net.readFrom(*ports[1], 17 - static_cast<int>(sentBefore[1].size())), "north-1 once more");

    // Room again once they are known: one that says nothing in time, one that hangs up.
    auto silent = net.call(net.reception.port());
    EXPECT_TRUE(net.pumpUntil([&] { return net.refusals.size() == 3; }));
    EXPECT_EQ(net.refusals.value(2), "sent no ID in time");
    auto gone = net.call(net.reception.port());
    gone->disconnectFromHost();
    EXPECT_TRUE(net.pumpUntil([&] { return net.refusals.size() == 4; }));
    EXPECT_EQ(net.refusals.value(3), "hung up without a word");
    // And one that says more than an ID takes without being known.
    Listening strict(1000, {512, 16, 16, 10000});
    auto talker = strict.call(strict.reception.port());
    talker->write(QByteArray(20, 'x'));
    EXPECT_TRUE(strict.pumpUntil([&] { return strict.refusals.size() == 1; }));
    EXPECT_TRUE(strict.refusals.value(0).startsWith("sent 16 bytes and no ID")) << strict.refusals.value(0).toStdString();
    EXPECT_EQ(net.reception.waitingCount(), 0);
}

// Nothing turns the event loop here, so no name is resolved: only the deadline or Stop end a connect.
TEST(NetworkPort, AConnectEndsAtItsTimeOrAtStopAndOneThatCannotBeginEndsAtOnce)
{
    const char *const meter = "Cannot connect to tcp://meter.invalid:4001: ";
    const struct {
        const char *address; // the device server's
        int timeoutMs, stopAtMs, endsAtMs;
        QString error; // the start of the connect's error
    } rows[] = {
        {"meter.invalid", 1500, -1, 1500, meter + QStringLiteral("timed out: no answer within 1.5 s")},
        {"meter.invalid", 10000, 300, 300, meter + QStringLiteral("stopped while connecting")},
        {"", 10000, -1, 0, "Cannot connect to tcp://:4001: not a device server address"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.address + std::to_string(row.timeoutMs + row.stopAtMs));
        VirtualClock clock;
        VirtualEventPump pump(clock);
        std::atomic<bool> stop{false};
        if (row.stopAtMs >= 0)
            pump.runAfter(row.stopAtMs, [&] { stop = true; });
        const std::int64_t start = clock.monotonicMs();
        NetworkPort port({NetworkEndpoint::Protocol::RawTcp, row.address, 4001, "tcp://:4001"}, row.timeoutMs, clock,
                         pump, &stop);
        EXPECT_FALSE(port.open(1, QStringLiteral("9600")));
        EXPECT_TRUE(port.errorString().startsWith(row.error)) << port.errorString().toStdString();
        EXPECT_NEAR(clock.monotonicMs() - start, row.endsAtMs, 10);
    }
}

TEST(CallerReception, AnAddressThatCannotBeListenedOnIsRefusedWithTheAddressAndTheSystemsReason)
{
    Listening net;
    const QString inUse = QString::number(net.reception.port());
    const struct {
        const char *host;
        QString port;
        QString error;
    } rows[] = {
        {"127.0.0.1", inUse, "Cannot listen on 127.0.0.1:" + inUse + ": address in use"},
        // TEST-NET-1: never an address of this host.
        {"192.0.2.1", "4100", "Cannot listen on 192.0.2.1:4100: not an address of this host"},
        {"collector.example", "4100", "Cannot listen on collector.example:4100: not an IP address"},
    };
    for (const auto &row : rows) {
        CallerReception other(net.clock, {}, [](const PendingCaller &, bool) { return CallerVerdict{}; },
                              [](PendingCaller, int) {}, {});
        EXPECT_FALSE(other.listen(QLatin1String(row.host), row.port.toUShort()));
        EXPECT_TRUE(other.errorString().startsWith(row.error)) << other.errorString().toStdString();
    }
}

} // namespace
} // namespace ostrand

// The zone's offset is kept between looks; the time of day must still be the local one.
TEST(SystemClockTest, TheTimeOfDayIsLocalTimeUnderEveryZone)
{
    const QByteArray zone = qgetenv("TZ");
    for (const char *tz : {"UTC", "America/St_Johns", "Asia/Kathmandu"}) {
        qputenv("TZ", tz);
        const ostrand::SystemClock clock; // a fresh clock looks the offset up
        const double shown = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
        EXPECT_NEAR(std::fmod(clock.secondsSinceMidnight() - shown + 86400.5, 86400.0), 0.5, 0.1) << tz;
    }
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
}

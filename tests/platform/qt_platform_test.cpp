#include "cli_run.h"
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
    EXPECT_EQ(describeComDevice(programDir.path(), 1), QStringLiteral("COM1 → ") + device);
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
TEST_F(QtSerialPortTest, DiscardsWhatHasArrivedButNotWhatComesAfterAndSeesCom1LeadElsewhere)
{
    ASSERT_TRUE(port.open(1, "19200")) << port.errorString().toStdString();
    ASSERT_TRUE(pty.write("stale"));
    ASSERT_TRUE(receive(5));
    port.discardInput();
    EXPECT_EQ(port.receivedCount(), 0);
    ASSERT_TRUE(pty.write("new"));
    ASSERT_TRUE(receive(3));
    EXPECT_EQ(port.read(100), QByteArray("new"));

    // COM1 pointed at another adapter while open: the open port no longer is COM1.
    EXPECT_FALSE(port.leadsElsewhere(1));
    PseudoTerminal other;
    ASSERT_TRUE(QFile::remove(comPath(1)) && QFile::link(other.slavePath(), comPath(1)));
    EXPECT_TRUE(port.leadsElsewhere(1));
}

// An adapter pulled takes its link along: the port must not go on as the system's COM1.
TEST_F(QtSerialPortTest, AComLinkThatVanishedIsNamedAndNeverReplacedByTheSystemsPortOfThatNumber)
{
    const QString device = QFileInfo(pty.slavePath()).canonicalFilePath();
    ASSERT_TRUE(port.open(1, "9600")) << port.errorString().toStdString();
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

TEST_F(QtSerialPortTest, RefusesWithAReasonABadBaudRateAMissingDeviceOrNoPort)
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
}

// The window shows the same text through the download's detail line.
TEST_F(QtSerialPortTest, APortThatCannotBeHadIsNamedWithTheSystemsReasonAtOnceAndStdoutKeepsTheStatusTexts)
{
    ASSERT_TRUE(port.open(1, "9600")); // as another program holding the line
    const QString regular = programDir.filePath("notes.txt"), locked = programDir.filePath("ttyLocked");
    for (const QString &file : {regular, locked})
        ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    const QString rows[][2] = {{programDir.filePath("ttyGone"), QString::fromLocal8Bit(std::strerror(ENOENT))},
                               {regular, "not a serial device"},
                               {"/dev/null", "not a serial device"},
                               {pty.slavePath(), "port in use by another program"},
                               {locked, QString::fromLocal8Bit(std::strerror(EACCES)) + ". Using " + locked}};
    for (const auto &[device, reason] : rows) {
        if (device == locked && ::geteuid() == 0)
            continue; // permissions do not bind root
        QElapsedTimer took;
        took.start();
        const testing::CliRun run = testing::runCli({"download", "--port", device, "--output", programDir.filePath("x.csv")});
        EXPECT_LT(took.elapsed(), 1000) << device.toStdString();
        EXPECT_EQ(run.lines, (QStringList{"Downloading", "Error in Downloading!!"}));
        EXPECT_TRUE(run.errors.startsWith("Cannot open " + device + ": ") && run.errors.contains(reason))
            << run.errors.toStdString();
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
    EXPECT_EQ(st.st_mtim.tv_nsec, 7);

    ASSERT_TRUE(saveFile(to, "kept before"));
    EXPECT_FALSE(copyFileAsNew(from, to, &error));
    EXPECT_TRUE(error.contains(to)) << qPrintable(error);
    EXPECT_EQ(testing::readFileBytes(to), "kept before");
    EXPECT_FALSE(copyFileAsNew(dir.filePath("missing.csv"), dir.filePath("missing.csv.1"), &error));
    EXPECT_FALSE(QFile::exists(dir.filePath("missing.csv.1")));
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

TEST(SmallFileRead, readsUpToTheLimitAndRefusesALinkWhenAsked)
{
    QTemporaryDir dir;
    const auto make = [&](const QString &name, qsizetype size) {
        testing::writeFileBytes(dir.filePath(name), QByteArray(size, 'x'));
        return dir.filePath(name);
    };
    constexpr qint64 kLimit = 100000;
    const struct {
        qsizetype size;
        FileState state;
    } sizes[] = {{0, FileState::Regular}, {1, FileState::Regular}, {kLimit, FileState::Regular},
                 {kLimit + 1, FileState::TooLarge}};
    for (const auto &row : sizes) {
        for (const Links links : {Links::Follow, Links::Refuse}) {
            const SmallFile file = readSmallFile(make(QString::number(row.size), row.size), kLimit, links);
            EXPECT_EQ(file.check.state, row.state) << row.size;
            EXPECT_EQ(file.bytes.size(), row.state == FileState::Regular ? row.size : 0) << row.size;
        }
    }
    const QString target = make("target", 10);
    ASSERT_TRUE(QFile::link(target, dir.filePath("link")));
    EXPECT_EQ(readSmallFile(dir.filePath("link"), kLimit, Links::Follow).bytes.size(), 10);
    const SmallFile refused = readSmallFile(dir.filePath("link"), kLimit, Links::Refuse);
    EXPECT_EQ(refused.check.state, FileState::NotRegular);
    EXPECT_EQ(refused.check.problem, dir.filePath("link") + " is a symbolic link");
    EXPECT_EQ(readSmallFile(dir.filePath("none"), kLimit, Links::Refuse).check.state, FileState::Missing);
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

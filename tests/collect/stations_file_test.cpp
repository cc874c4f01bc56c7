#include "collect/stations_file.h"
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostrand::collect;

namespace {

const QByteArray kGood = "[a]\nport = COM1\noutput = a.csv\n";

StationsFile parse(const QByteArray &text)
{
    return parseStations(text, QStringLiteral("s.ini"), QStringLiteral("/base"));
}

} // namespace

TEST(StationsFile, eachMistakeIsRefusedNamingItsLineAndWhatIsWrong)
{
    const struct { QByteArray text; const char *error; } rows[] = {
        {kGood + "colour = red\n", "s.ini:4: key 'colour': unknown key"},
        {"[a]\noutput = a.csv ; no port\n", "s.ini:1: key 'port': station 'a' has none"},
        {"[a]\nport = COM1\n[b]\nport = COM2\noutput = b.csv\n", "s.ini:1: key 'output': station 'a' has none"},
        {kGood + "baud = 9601\n", "s.ini:4: key 'baud': '9601' is not one of"},
        {kGood + "slave = 256\n", "s.ini:4: key 'slave': '256' is not a slave address"},
        {kGood + "slave = x\n", "s.ini:4: key 'slave'"},
        {kGood + "portable = yes\n", "s.ini:4: key 'portable': takes true or false"},
        {"[a]\nport = -x\n", "s.ini:2: key 'port': takes COM1 to COM4"},
        {kGood + "PORT = COM2\n", "s.ini:4: key 'port': given twice"},
        {kGood + "[a]\nport = COM2\noutput = b.csv\n", "s.ini:4: station 'a' appears twice"},
        {kGood + "[b]\nport = COM2\noutput = x/../a.csv\n",
         "s.ini:4: key 'output': stations 'a' and 'b' would write the same file /base/a.csv"},
        {"port = COM1\n" + kGood, "s.ini:1: key 'port': comes before any [station] heading"},
        {"; only a comment\n\n", "s.ini:1: no [station] in the file"},
        {"[a]\nport COM1\n", "s.ini:2: expected key = value"},
        {kGood + "output = \n", "s.ini:4: key 'output': given twice"},
        {"[a]\nport = COM1\noutput =\n", "s.ini:3: key 'output': needs a file name"},
        // Headings: stray brackets are a slip, not part of a name.
        {"[a]]\n", "s.ini:1: a station heading is [name]"},
        {"[[a]\n", "s.ini:1: a station heading is [name]"},
        {"[ ]\n", "s.ini:1: a station heading is [name]"},
        {"[a] north\n", "s.ini:1: a station heading is [name]"},
        {"[a\x01]\n", "s.ini:1: the station name holds a control character (U+0001)"},
        // Control characters: a NUL cuts a path short, a CR ends a modem command early.
        {QByteArray("[a]\nport = COM1\noutput = a\0.csv\n", 32),
         "s.ini:3: key 'output': the value holds a control character (U+0000)"},
        {kGood + "dial = 555\rATH\n", "s.ini:4: key 'dial': the value holds a control character (U+000D)"},
        {"[a]\nport = /dev/tty\x1b[2J\n", "s.ini:2: key 'port': the value holds a control character (U+001B)"},
        {"[a]\npo\x7frt = COM1\n", "s.ini:2: the key holds a control character (U+007F)"},
        {kGood + "output2 = a\tb\n", "s.ini:4: key 'output2': the value holds a control character (U+0009)"},
        // Dial strings: only what a Hayes modem dials.
        {kGood + "dial = 555-0142 x\n", "s.ini:4: key 'dial': the number holds 'x', which a modem cannot dial"},
        {kGood + "dial = 555E\n", "s.ini:4: key 'dial': the number holds 'E'"},
        {kGood + "dial = 555a\n", "s.ini:4: key 'dial': the number holds 'a'"},
        {kGood + "dial = 5&5\n", "s.ini:4: key 'dial': the number holds '&'"},
        {kGood + "dial =\n", "s.ini:4: key 'dial': needs a number"},
    };
    for (const auto &row : rows) {
        const StationsFile file = parse(row.text);
        EXPECT_TRUE(file.stations.empty()) << row.text.toStdString();
        EXPECT_TRUE(file.error.startsWith(QLatin1String(row.error)))
            << qPrintable(file.error) << "\n  wanted " << row.error;
    }
}

TEST(StationsFile, aSoundFileGivesEveryStationWithItsValues)
{
    const StationsFile file = parse("# the fleet\r\n"
                                    "[north pump]   ; by the gate\r\n"
                                    "port = COM3\r\nbaud = 9600\r\nslave = 7 # seven\r\n"
                                    "output = data/north.csv\r\n\r\n"
                                    "[river]\n"
                                    "port\t=\tttyUSB1\n"
                                    "dial = *70,9W(555) 010-4242!@+ABCDtwpTP#\n"
                                    "portable = true\n"
                                    "output = /abs/river.csv\n");
    ASSERT_TRUE(file.error.isEmpty()) << qPrintable(file.error);
    ASSERT_EQ(file.stations.size(), 2u);
    const Station &north = file.stations[0], &river = file.stations[1];
    EXPECT_EQ(north.name, "north pump");
    EXPECT_EQ(north.line, 2);
    EXPECT_EQ(north.comNumber, 3);
    EXPECT_TRUE(north.devicePath.isEmpty());
    EXPECT_EQ(north.baud, "9600");
    EXPECT_EQ(north.slave, 7);
    EXPECT_TRUE(north.dial.isEmpty() && !north.portable);
    // Relative paths are the stations file's folder's, not the scheduler's working folder.
    EXPECT_EQ(north.output, "/base/data/north.csv");
    EXPECT_EQ(river.line, 8);
    EXPECT_EQ(river.devicePath, "/base/ttyUSB1");
    EXPECT_EQ(river.dial, "*70,9W(555) 010-4242!@+ABCDtwpTP#");
    EXPECT_TRUE(river.portable);
    EXPECT_EQ(river.output, "/abs/river.csv");
    EXPECT_EQ(river.baud, "38400") << "the default";
    EXPECT_EQ(river.slave, 1) << "the default";
}

TEST(StationsFile, onlyARegularFileOfSensibleSizeIsRead)
{
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    // A pipe nobody writes to would hold the run for ever; /dev/zero never ends.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.ini")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path("zero.ini")));
    QDir(dir.path()).mkdir(QStringLiteral("folder.ini"));
    QFile big(path("big.ini"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.write(kGood) && big.resize(1024 * 1024 + 1));
    big.close();
    QFile good(path("good.ini"));
    ASSERT_TRUE(good.open(QIODevice::WriteOnly) && good.write(kGood + QByteArray(900 * 1024, '\n')));
    good.close();
    const std::pair<const char *, const char *> rows[] = {
        {"fifo.ini", " is not a regular file (a pipe): give the stations file itself"},
        {"zero.ini", " is not a regular file (a device)"},
        {"folder.ini", " is not a regular file (a folder)"},
        {"big.ini", " is larger than 1 MiB (1048577 bytes)"},
        {"missing.ini", ": no such file"},
    };
    for (const auto &[name, error] : rows) {
        const StationsFile file = readStationsFile(path(name));
        EXPECT_TRUE(file.stations.empty()) << name;
        EXPECT_TRUE(file.error.startsWith(path(name) + QLatin1String(error))) << qPrintable(file.error);
    }
    const StationsFile read = readStationsFile(path("good.ini"));
    EXPECT_TRUE(read.error.isEmpty()) << qPrintable(read.error);
    ASSERT_EQ(read.stations.size(), 1u);
    EXPECT_EQ(read.stations[0].output, path("a.csv"));
}

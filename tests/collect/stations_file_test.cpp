#include "collect/stations_file.h"
#include "collect/publish_group.h"
#include "file_bytes.h"
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ostrand::collect;

namespace {
const QByteArray kGood = "[a]\nport = COM1\noutput = a.csv\n";
}

TEST(StationsFile, eachMistakeIsRefusedNamingItsLineAndWhatIsWrong)
{
    struct Row { QByteArray text; QString error; };
    std::vector<Row> rows{
        {kGood + "colour = red\n", "4: key 'colour': unknown key"},
        {kGood + "pipe = 600 mm\n", "4: key 'pipe': unknown key (port, baud, slave, reply-timeout, connect-timeout, "
                                    "request-gap, echo, dial, portable, output, timezone, clock, call-in, call-in-id, "
                                    "heartbeat, call-in-from, interval, depth-channel, velocity-channel, flow-channel, "
                                    "total-channel, depth-unit, velocity-unit, flow-unit, total-unit, pipe-diameter, "
                                    "pipe-slope, manning-n)"},
        {"[a]\noutput = a.csv ; no port\n", "1: key 'port': station 'a' has none"},
        {"[a]\nport = COM1\n[b]\nport = COM2\noutput = b.csv\n", "1: key 'output': station 'a' has none"},
        // A line value's rule is LineOptions' table (the same reader); here its wording in this file.
        {kGood + "baud = 9601\n", "4: key 'baud': '9601' is not one of"},
        {kGood + "portable = yes\n", "4: key 'portable': takes true or false"},
        {"[a]\nport = tcp://gw\n", "2: key 'port': 'tcp://gw' is not COM1 to COM4"},
        {"[a]\nport = tcp://gw:4001\ndial = 555\noutput = a.csv\n",
         "1: key 'dial': station 'a' is behind a device server (tcp://gw:4001); a modem is dialled on a serial port"},
        {kGood + "PORT = COM2\n", "4: key 'port': given twice"},
        {kGood + "[a]\nport = COM2\noutput = b.csv\n", "4: station 'a' appears twice"},
        {kGood + "[b]\nport = COM2\noutput = x/../a.csv\n",
         "4: key 'output': stations 'a' and 'b' would write the same file /base/a.csv"},
        {"port = COM1\n" + kGood, "1: key 'port': comes before any [station] heading"},
        {"; only a comment\n\n", "1: no [station] in the file"},
        {"[a]\nport COM1\n", "2: expected key = value"},
        {"[a]\nport = COM1\noutput =\n", "3: key 'output': needs a file name"},
        // Control characters: a NUL cuts a path short, a CR ends a modem command early.
        {"[a\x01]\n", "1: the station name holds a control character (U+0001)"},
        {QByteArray("[a]\nport = COM1\noutput = a\0.csv\n", 32),
         "3: key 'output': the value holds a control character (U+0000)"},
        {kGood + "dial = 555\rATH\n", "4: key 'dial': the value holds a control character (U+000D)"},
        {"[a]\nport = /dev/tty\x1b[2J\n", "2: key 'port': the value holds a control character (U+001B)"},
        {"[a]\npo\x7frt = COM1\n", "2: the key holds a control character (U+007F)"},
        // Dial strings: only what a Hayes modem dials.
        {kGood + "dial = 555-0142 x\n", "4: key 'dial': the number holds 'x', which a modem cannot dial"},
        {kGood + "dial =\n", "4: key 'dial': needs a number"},
        // Time and the store.
        {kGood + "timezone = Europe/Lndon\n", "4: key 'timezone': 'Europe/Lndon' is no time zone"},
        {kGood + "clock = summer\n", "4: key 'clock': takes local or standard"},
        {"[store]\nurl = mysql://db\n" + kGood, "2: key 'url': takes sqlite:FILE"},
        {"[store]\nurl = sqlite:\n" + kGood, "2: key 'url': sqlite: needs a file name"},
        {"[store]\npath = x.db\n" + kGood, "2: key 'path': unknown key in [store] (url)"},
        {kGood + "[store]\n", "4: key 'url': [store] has none"},
        {"[store]\nurl = sqlite:a.db\n" + kGood + "[store]\n", "6: [store] appears twice"},
        // The survey's keys.
        {kGood + "depth-channel = 9\n", "4: key 'depth-channel': takes a channel number from 1 to 8"},
        {kGood + "flow-unit = litres\n", "4: key 'flow-unit': takes one of l/s, m3/s, m3/h, gpm, MGD, cfs"},
        {kGood + "pipe-diameter = 600\n", "4: key 'pipe-diameter': takes a length above zero and its unit"},
        {kGood + "pipe-slope = 0.2 %\n", "4: key 'pipe-slope': takes a number above 0 and below 1"},
        {kGood + "manning-n = 1\n", "4: key 'manning-n': takes a number above 0 and below 1"},
        {kGood + "depth-channel = 2\nflow-channel = 2\n",
         "1: key 'flow-channel': station 'a' gives channel 2 to depth-channel as well"},
    };
    // Headings: stray brackets are a slip, not part of a name.
    for (const char *heading : {"[a]]", "[[a]", "[ ]", "[a] north"})
        rows.push_back({heading + QByteArray("\n"), "1: a station heading is [name]"});
    // The edges of what a modem dials: D but not E, A but not a.
    for (const char *digit : {"E", "a", "&"})
        rows.push_back({kGood + "dial = 55" + digit + "5\n", QString("4: key 'dial': the number holds '%1'").arg(digit)});
    for (const auto &row : rows) {
        const StationsFile file = parseStations(row.text, "s.ini", "/base");
        EXPECT_TRUE(file.stations.empty() && file.error.startsWith("s.ini:" + row.error))
            << qPrintable(file.error) << "\n  wanted " << qPrintable(row.error);
    }
}

TEST(StationsFile, aSoundFileGivesEveryStationWithItsValues)
{
    // The command line's reply time is the default; a station's own, 0 too, wins.
    ostrand::LineChoice defaults;
    defaults.replyTimeoutMs = 250;
    defaults.echo = true;
    const StationsFile file = parseStations(
        "# the fleet\r\n[north pump]   ; by the gate\r\nport = COM3\r\nbaud = 9600\r\nslave = 7 # seven\r\n"
        "output = data/north.csv\r\n\r\n[river]\nport\t=\tttyUSB1\ndial = *70,9W(555) 010-4242!@+ABCDtwpTP#\n"
        "portable = true\nreply-timeout = 1500\nrequest-gap = 1000\necho = false\noutput = /abs/river.csv\n"
        "[mill]\nport = com2\nreply-timeout = 0\nrequest-gap = 0\noutput = mill.csv\n", "s.ini", "/base", defaults);
    EXPECT_FALSE(file.store);
    QStringList got;
    for (const Station &s : file.stations)
        got << QStringLiteral("%1@%2 COM%3 '%4' %5 %6 %7ms '%8' %9 %10 gap %11ms%12")
                   .arg(s.name).arg(s.line).arg(s.lineChoice.comNumber).arg(s.lineChoice.devicePath, s.lineChoice.baud)
                   .arg(s.lineChoice.slave).arg(s.lineChoice.replyTimeoutMs)
                   .arg(s.dial, s.portable ? "portable" : "-", s.output)
                   .arg(s.lineChoice.requestGapMs).arg(s.lineChoice.echo ? " echo" : "");
    // Relative paths are the stations file's folder's, not the scheduler's working folder.
    EXPECT_EQ(got, QStringList({"north pump@2 COM3 '' 9600 7 250ms '' - /base/data/north.csv gap 0ms echo",
                                "river@8 COM1 '/base/ttyUSB1' 38400 1 1500ms '*70,9W(555) 010-4242!@+ABCDtwpTP#' "
                                "portable /abs/river.csv gap 1000ms",
                                "mill@16 COM2 '' 38400 1 0ms '' - /base/mill.csv gap 0ms echo"})) << qPrintable(file.error);
}

TEST(StationsFile, onlyARegularFileOfSensibleSizeIsRead)
{
    QTemporaryDir dir;
    const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    // A pipe nobody writes to would hold the run for ever; /dev/zero never ends.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.ini")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", path("zero.ini")) && QDir(dir.path()).mkdir("folder.ini"));
    for (const auto &[name, size] : {std::pair{"big.ini", 1024 * 1024 + 1}, {"good.ini", 900 * 1024}})
        ostrand::testing::writeFileBytes(path(name), kGood + QByteArray(size - kGood.size(), '\n'));
    const std::pair<const char *, const char *> rows[] = {
        {"fifo.ini", " is not a regular file (a pipe): give the stations file itself"},
        {"zero.ini", " is not a regular file (a device)"},
        {"folder.ini", " is not a regular file (a folder)"},
        {"big.ini", " is larger than 1 MiB (1048577 bytes)"},
        {"missing.ini", ": no such file"},
        {"good.ini", ""},
    };
    for (const auto &[name, error] : rows) {
        const StationsFile file = readStationsFile(path(name));
        EXPECT_TRUE(*error ? file.error.startsWith(path(name) + error) : file.error.isEmpty())
            << qPrintable(file.error);
        EXPECT_EQ(file.stations.size(), *error ? 0u : 1u) << name;
    }
}

// Stations behind one device server port share its line and take turns; any other port is a line of its own.
TEST(StationsFile, stationsBehindOneDeviceServerPortShareALine)
{
    const StationsFile file = parseStations("[a]\nport = tcp://GW:4001\noutput = a\n[b]\nport = rfc2217://gw:4001\noutput = b\n"
                                            "[c]\nport = tcp://gw:4002\noutput = c\n[d]\nport = tcp://gw2:4001\noutput = d\n"
                                            "[e]\nport = /dev/null\noutput = e\n", "s.ini", "/base");
    QSet<QString> lines;
    for (const Station &s : file.stations)
        lines << s.portKey({});
    EXPECT_EQ(file.stations.size(), 5u) << qPrintable(file.error);
    EXPECT_EQ(lines.size(), 4) << "a and b share one line";
}

// The store's group may come anywhere; a station's zone and clock stay its own. A relative SQLite
// file and PostgreSQL's forms are read from the file by ExportE2e and StorePasswords, end to end.
TEST(StationsFile, theStoreAndEachStationsTimeAreRead)
{
    const StationsFile file = parseStations(kGood + "timezone = America/Chicago\nclock = standard\n[store]\nurl = sqlite:///srv/flow.db"
                                                "\n[b]\nport = COM2\noutput = b.csv\n", "s.ini", "/base");
    ASSERT_TRUE(file.store && file.stations.size() == 2) << qPrintable(file.error);
    EXPECT_TRUE(file.store->kind == StoreLocation::Kind::Sqlite && file.store->target == "/srv/flow.db");
    EXPECT_TRUE(file.stations[0].timeZone().id() == "America/Chicago" && file.stations[0].clock == MeterClock::Standard);
    EXPECT_TRUE(file.stations[1].timeZone() == QTimeZone::systemTimeZone() && file.stations[1].clock == MeterClock::Local);
}

TEST(StationsFile, eachStationKeepsItsOwnSurveyRolesUnitsAndPipe)
{
    const StationsFile file = parseStations(kGood + "depth-channel = 3\nvelocity-channel = 4\nflow-unit = MGD\n"
                                                "depth-unit = in\npipe-diameter = 24 in\npipe-slope = 0.002\n"
                                                "manning-n = 0.013\n[b]\nport = COM2\noutput = b.csv\n",
                                            "s.ini", "/base");
    ASSERT_EQ(file.stations.size(), 2u) << qPrintable(file.error);
    const ostrand::survey::SurveySetup &a = file.stations[0].survey;
    EXPECT_EQ(a.roles, (ostrand::survey::ChannelRoles{3, 4, 0, 0}));
    EXPECT_TRUE(a.flowUnit == ostrand::survey::FlowUnit::Mgd && a.flowUnitGiven);
    EXPECT_TRUE(a.depthUnit == ostrand::survey::DepthUnit::Inch && a.depthUnitGiven && !a.velocityUnitGiven);
    EXPECT_TRUE(a.pipe.complete());
    EXPECT_DOUBLE_EQ(*a.pipe.diameterM, 0.6096);
    const ostrand::survey::SurveySetup &b = file.stations[1].survey;
    EXPECT_TRUE(b.roles == ostrand::survey::ChannelRoles{} && !b.flowUnitGiven && !b.pipe.diameterM);
}

// [publish]: what a broker takes, and what would break a station's topics or lose readings.
TEST(StationsFile, aPublishGroupIsRefusedWithItsReasonWhereItWouldBreakTopicsOrLoseReadings)
{
    const QByteArray store = "[store]\nurl = sqlite:flow.db\n";
    const QByteArray publish = store + "[publish]\nurl = mqtt://broker:1883\n";
    struct Row { QByteArray text; QString error; };
    const Row rows[] = {
        {store + "[publish]\ntopic = flow/{station}\n" + kGood, "3: key 'url': [publish] has none"},
        {store + "[publish]\nurl = tcp://broker:1883\n" + kGood, "4: key 'url': 'tcp://broker:1883' is not mqtt://HOST:PORT"},
        {store + "[publish]\nurl = mqtt://broker\n" + kGood, "4: key 'url': 'mqtt://broker' is not mqtt://HOST:PORT"},
        {store + "[publish]\nurl = mqtt://broker:70000\n" + kGood, "4: key 'url': 'mqtt://broker:70000' is not"},
        {store + "[publish]\nurl = mqtts://broker:8883/flow\n" + kGood, "4: key 'url': 'mqtts://broker:8883/flow' is not"},
        {publish + "qos = 0\n" + kGood, "5: key 'qos': qos 0 is not taken: the broker would not acknowledge"},
        {publish + "qos = 2\n" + kGood, "5: key 'qos': qos 2 is not taken: a reading may be sent again"},
        {publish + "qos = once\n" + kGood, "5: key 'qos': takes 1 (at least once)"},
        {publish + "topic = flow/#\n" + kGood, "5: key 'topic': 'flow/#' holds '#', a wildcard"},
        {publish + "topic = flow/+/{station}\n" + kGood, "5: key 'topic': 'flow/+/{station}' holds '+', a wildcard"},
        {publish + "topic = flow/all\n" + kGood, "5: key 'topic': 'flow/all' has no {station}: every station's retained"},
        {publish + "topic = $SYS/{station}\n" + kGood, "5: key 'topic': '$SYS/{station}' begins with '$'"},
        {publish + "ca-file = ca.pem\n" + kGood, "3: key 'ca-file': is for mqtts:// (TLS)"},
        {publish + "password-file = broker.pass\n" + kGood, "3: key 'password-file': goes with username"},
        {publish + "retain = true\n" + kGood, "5: key 'retain': unknown key in [publish] (url, ca-file, username,"},
        {publish + kGood + "[publish]\nurl = mqtt://other:1883\n", "8: [publish] appears twice"},
    };
    for (const auto &row : rows) {
        const StationsFile file = parseStations(row.text, "s.ini", "/base");
        EXPECT_TRUE(file.stations.empty() && !file.publish && file.error.startsWith("s.ini:" + row.error))
            << qPrintable(file.error) << "\n  wanted " << qPrintable(row.error);
    }
    // A station name with a topic's own characters is refused at its heading, only when publishing.
    const std::pair<const char *, const char *> names[] = {{"north+1", "+"}, {"pump#2", "#"}, {"river/east", "/"}};
    for (const auto &[name, character] : names) {
        const QByteArray station = QByteArray("[") + name + "]\nport = COM2\noutput = b.csv\n";
        const StationsFile file = parseStations(publish + kGood + station, "s.ini", "/base");
        const QString wanted = QString("s.ini:8: the station name '%1' holds '%2', which would break its MQTT topics")
                                   .arg(name, character);
        EXPECT_TRUE(file.stations.empty() && file.error.startsWith(wanted)) << qPrintable(file.error);
        EXPECT_EQ(parseStations(store + kGood + station, "s.ini", "/base").stations.size(), 2u) << name;
    }
}

// A sound [publish]: its files from the stations file's folder, the topic's default, and no
// publishing without a store, wherever the store would come from.
TEST(StationsFile, aPublishGroupIsReadAndNeedsAStore)
{
    const QByteArray publish = "[publish]\nurl = MQTTS://broker.example:8883\nca-file = certs/ca.pem\n"
                               "username = collector\npassword-file = /etc/ostrand/broker.pass\nqos = 1\n";
    const StationsFile file = parseStations(publish + kGood, "s.ini", "/base");
    ASSERT_TRUE(file.publish) << qPrintable(file.error);
    EXPECT_EQ(file.publish->url, "mqtts://broker.example:8883");
    EXPECT_EQ(file.publish->caFile, "/base/certs/ca.pem");
    EXPECT_EQ(file.publish->passwordFile, "/etc/ostrand/broker.pass");
    EXPECT_EQ(file.publish->username, "collector");
    EXPECT_EQ(file.publish->topic, "flow/{station}");
    EXPECT_TRUE(publishWithoutStoreProblem(file, std::nullopt).startsWith("[publish] needs a store"));
    EXPECT_EQ(publishWithoutStoreProblem(file, StoreLocation{StoreLocation::Kind::Sqlite, "/srv/flow.db"}), QString());
    EXPECT_EQ(publishWithoutStoreProblem(parseStations(kGood, "s.ini", "/base"), std::nullopt), QString());
}

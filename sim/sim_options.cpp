#include "sim_options.h"

#include "byte_text.h"
#include "tcp_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <cmath>

namespace ostrand::sim {

namespace {

struct OptionInfo {
    const char *name;
    const char *valueName; // nullptr for a flag
    const char *description;
};

// The order here is the order --help lists them in.
const OptionInfo kOptions[] = {
    {"link", "path",
     "Symbolic link to create to the meter's pseudo-terminal, e.g. BUILD/bin/COM1. A stale "
     "link there is replaced; the link is removed on exit."},
    {"tcp-listen", "[host:]port",
     "Serve the meter straight on TCP instead of a pseudo-terminal, as a device server in raw "
     "mode would: host 127.0.0.1 unless given, port 0 for one the system picks. One "
     "connection at a time; the next is taken once it closes. Faults that drop the line "
     "close the connection."},
    {"call-in", "host:port,...",
     "Put the meter behind a cellular router in client mode: it connects out to the collector "
     "at the address and passes the meter's raw RTU bytes both ways (no Modbus TCP header). "
     "A connect that fails, or a connection that drops, makes the next connect go to the next "
     "address in the list. Instead of --link and --tcp-listen."},
    {"call-in-id", "text|hex:..",
     "Call-in: the router's registration ID, text or hex: bytes. With --meters, a number "
     "pattern gives each meter its own: north-%04d is north-0001, north-0002 ... (%d, %4d or "
     "%04d; %% for a %)."},
    {"call-in-id-mode", "mode",
     "Call-in: send the ID once right after connecting (first, the default with an ID), "
     "alone right after connecting and then in front of every packet (every; heartbeats go "
     "without it), or never (none, the default without an ID). A list (first,every,none) "
     "gives meter k entry k, going round."},
    {"heartbeat", "text|hex:..",
     "Call-in: a heartbeat the router sends on its own timer, between packets (and so "
     "inside a reply that takes more than one packet)."},
    {"heartbeat-every", "seconds",
     "Call-in: seconds between heartbeats, fractions allowed (default 30). A list (1,0) "
     "gives meter k entry k, going round; 0 is no heartbeat."},
    {"call-in-source", "address",
     "Call-in: connect from this IPv4 address, meter k from the one k-1 above it (e.g. "
     "127.0.0.2 on, for a collector that tells routers without an ID by their address)."},
    {"reconnect-after", "seconds",
     "Call-in: pause before connecting again after a drop or a failed connect (default 5); "
     "the router keeps trying at this pace until SIGTERM or SIGINT."},
    {"packet-bytes", "n",
     "Call-in: the router sends the meter's output in packets of at most n bytes (default "
     "64), cutting one sooner when the serial side is quiet for 4 character times (--baud)."},
    {"meters", "n",
     "Call-in: run n meters in this one process (default 1), each behind a router of its "
     "own with its own connection, ID and log (values offset by the meter's number)."},
    {"meter-number", "k",
     "The meter's number (default 1; with --meters, the first one's): meter k's log, and its "
     "ID from a pattern. A single meter on a pseudo-terminal with --meter-number k serves "
     "the log meter k of a --meters run serves, given the same other options."},
    {"connect-spread", "seconds",
     "Call-in: spread the meters' first connects evenly over this many seconds (default 0, "
     "all at once)."},
    {"leave-stale", nullptr,
     "Call-in fault: a connection a fault drops (--drop-each-line-after, --drop-after, ...) "
     "is left open and silent instead of closed, as one whose end the network lost; the "
     "router's next connection stands beside it."},
    {"slave", "n", "Modbus slave address the meter answers (1-255, default 1)."},
    {"portable", nullptr,
     "Behave as an \"R1900 Portable\": pointer registers 76-83 packed one byte earlier."},
    {"channels", "n", "Channels that log (1-8, default 3, or as many as --labels names)."},
    {"labels", "list",
     "Comma-separated channel labels, channel 1 first, up to 32 characters each. A label "
     "containing \"Tot\" is a totalizer. Default: Flow,Flow Tot,Level,Velocity,"
     "Temperature,Flow 2,Level 2,Total 2."},
    {"interval-minutes", "m", "Minutes between logging instants (1-1440, default 15)."},
    {"records", "r",
     "Logging instants in the log (default 96); each holds one record per channel."},
    {"start", "when",
     "First logging instant, \"YYYY-MM-DD HH:MM\". Default: the log ends at the present."},
    {"wrap", nullptr,
     "Lay the log across the end of the log memory, as a meter whose log has wrapped round "
     "(end pointer below start pointer)."},
    {"log-file", "file", "Take the log from a text file (format below) instead of making one."},
    {"log-every-seconds", "s",
     "Keep logging: add one logging instant every s seconds of real time, stamped one "
     "interval after the last (0, the default: the log stays as it is)."},
    {"alarms", "bits",
     "Alarm bits always on in the display block, 0-63 (1, 2, 4 setpoints; 8 lost signal; "
     "16, 32 4-20 loops)."},
    {"modem", nullptr, "Put a Hayes modem in front of the meter (dial before talking)."},
    {"connect-delay-ms", "ms", "Modem: time from the dial command to CONNECT (default 1500)."},
    {"guard-ms", "ms", "Modem: silence after \"+++\" before command mode (default 1000)."},
    {"dial-result", "text",
     "Modem: what a dial ends in: CONNECT (default), BUSY, NO CARRIER, NO ANSWER ..."},
    {"silent", nullptr, "Fault: never answer."},
    {"delay-ms", "n", "Fault: wait n ms before each reply."},
    {"corrupt-crc", nullptr, "Fault: flip a bit of the CRC of replies."},
    {"corrupt-every", "k", "Fault: with --corrupt-crc, spoil only every k-th reply."},
    {"corrupt-crc-once", nullptr,
     "Fault: flip a bit of the CRC of every reply the first time it goes out; the same "
     "request asked again gets it whole, as after a burst of noise."},
    {"dead-block", "p1:p2:p3",
     "Fault: block reads (function 0x60) covering this address, in hexadecimal (e.g. "
     "8:81:0), get no answer. May be given more than once."},
    {"drop-after", "n",
     "Fault: drop the line (close the pseudo-terminal) once n reply bytes in all went out, "
     "even in the middle of a reply; a fresh pseudo-terminal then takes its place."},
    {"drop-each-line-after", "n",
     "Fault: drop every line once n reply bytes went out on it, even in the middle of a "
     "reply: each TCP connection (--tcp-listen), each call-in router's connection (then "
     "called again after --reconnect-after, the meter keeping its log and download marker), "
     "each fresh pseudo-terminal. A line that never stays up long enough for a download."},
    {"drop-mid-download", nullptr,
     "Fault: drop the line halfway through the third log block after the pointer registers "
     "were read."},
    {"drop-before-confirm-reply", nullptr,
     "Fault: take each download confirmation (function 0x62), then drop the line before "
     "its reply goes out."},
    {"refuse-function", "fn:code",
     "Fault: answer requests of function fn with a Modbus exception reply carrying code "
     "(both decimal or 0x hexadecimal, e.g. 0x60:1), as a slave without that function "
     "does. May be given more than once."},
    {"baud", "rate",
     "Pace the meter's output at this line rate (10 bits a byte), so a download takes its "
     "real time on the wire."},
    {"echo", nullptr,
     "Return every byte received at once, before the meter's reply, as a 2-wire RS-485 "
     "adapter does."},
    {"survey", nullptr,
     "Log a flow survey instead of the plain log: four channels \"Depth (mm)\", "
     "\"Velocity (m/s)\", \"Flow (l/s)\" and \"Flow Tot (m3)\" of a circular pipe. The depth "
     "follows a dry-weather day (lowest about 04:00, peaks morning and evening, the weekend "
     "lower) between 15 % and 45 % of the pipe above the silt; the velocity is Manning's for "
     "the pipe at that depth; the flow is velocity times the wetted area; the total counts "
     "every interval's flow (gaps too) from the log's start. Not with --log-file, --labels "
     "or --channels."},
    {"survey-diameter", "mm", "Survey: the pipe's diameter in millimetres (default 600)."},
    {"survey-slope", "fraction", "Survey: the pipe's slope (default 0.002)."},
    {"survey-n", "n", "Survey: Manning's roughness n (default 0.013)."},
    {"survey-silt", "mm",
     "Survey: a flat bed of silt this deep (default 0); water flows above it only, its "
     "surface part of the wetted perimeter."},
    {"survey-noise", "fraction",
     "Survey: each depth and velocity reading is off by up to this fraction of itself "
     "(default 0.02; 0 for none). The same options give the same log every time."},
    {"survey-storm", "storm",
     "Survey: START/HOURS, a storm from START (meter time, YYYY-MM-DDTHH:MM) lasting HOURS: the depth "
     "rises toward the crown, reaching 95 % of the diameter half way through, and falls "
     "back. May be given more than once."},
    {"survey-gaps", "gaps",
     "Survey: START/MINUTES[,START/MINUTES...]: instants from START (meter time, YYYY-MM-DDTHH:MM) for MINUTES are not "
     "logged (START itself included, START + MINUTES not). A comma-separated list; may be "
     "given more than once."},
    {"verbose", nullptr, "Log each request and reply in hexadecimal to stderr, each request with how long the line was quiet before it."},
};

const char kHelpTail[] = R"(
Output on stdout (one line each, flushed):
  ready <link> -> <pty>   listening (again after a dropped line)
  ready tcp://HOST:PORT   listening on TCP (--tcp-listen)
  ready call-in ADDRESSES
                          every meter's first connect was tried (--call-in)
  connected NAME ADDRESS  a router connected (NAME: the meter's ID as text or hex:..,
                          or meter-K without an ID)
  unreachable NAME ADDRESS: REASON
                          a connect failed; the next goes to the next address
  dropped NAME: REASON    a router's connection ended (the collector closed it, the
                          network failed or a fault dropped it); it connects again
                          after --reconnect-after
  serial side at N baud   the program on the pseudo-terminal set this speed (seen with
                          each request when it changes)
  confirmed               a download was confirmed (function 0x62); with --meters
                          above 1, "confirmed NAME"
  dropped                 a fault dropped the line

Log file format (--log-file): one record a line,
  YYYY-MM-DD HH:MM,channel,value
e.g. "2026-12-01 00:15,1,2.5". Channel is 1-8, value a decimal number. Records are logged
in file order; blank lines and lines starting with # are skipped. The channels that occur
are the ones in use. Give true instants: years 2000-2031 can be stored, and a 00:00
instant is stored under the day before (the meter closes a day at 24:00).

What the meter answers (Modbus RTU, CRC-16 low byte first):
  3     holding registers 24-63 (display, 2 characters a register, high byte first),
        76-83 (start pointer, end pointer, records used, free slots), 208 (last key)
  16    register 208: a key (the code in both bytes); 8-byte echo
  0x60  block read: bank 8-23 pages 0x80-0xBF the log ring, bank 0x18 page 0x81-0x88
        the setup blocks of channels 1-8 (label in bytes 65-96)
  0x61  last-download pointer; 0x62 download confirmed; 0x63 display block

The log memory holds 32736 records; a longer log keeps its newest records. The log ends on
a page boundary (its first page may start with erased slots), which lets a download land
exactly on the end pointer.

Keypad (register 208): digits, '.' Help, 'N' Up/Next, 'L' Down, 'M' Menu, 'E' Enter,
'F' 2nd. Menu opens the setup menu; Enter opens an item; in a number field digits are typed
in, Down rubs out, Enter stores; 2nd on the main screen shows a second page.

Examples:
  ostrand-metersim --link BUILD/bin/COM1 --records 500 --channels 3
  ostrand-metersim --link BUILD/bin/COM2 --portable --wrap --records 2000 --baud 9600
  ostrand-metersim --link BUILD/bin/COM1 --modem --log-file site.txt --verbose
  ostrand-metersim --link BUILD/bin/COM1 --survey --interval-minutes 15 --records 1344 \
      --start "2026-03-02 00:00" --survey-silt 50 --survey-storm 2026-03-10T14:00/6 \
      --survey-gaps 2026-03-05T10:00/120,2026-03-12T00:00/45
  ostrand-metersim --call-in collector.example:4100,backup.example:4100 --call-in-id north-%04d \
      --meters 1000 --connect-spread 30 --heartbeat PING --heartbeat-every 60 --baud 9600
)";

bool toInt(const QString &text, int low, int high, const char *what, int *value, QString *error)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok);
    if (!ok || parsed < low || parsed > high) {
        *error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                     .arg(QLatin1String(what))
                     .arg(low)
                     .arg(high)
                     .arg(text);
        return false;
    }
    *value = parsed;
    return true;
}

// The router options (see CallInSettings); false with `error` set when they make no sense
// together.
bool parseCallIn(const QCommandLineParser &parser, SimOptions *o, QString *error)
{
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    CallInSettings &c = o->callIn;
    if (isSet("meter-number") &&
        !toInt(value("meter-number"), 1, 1000000, "meter-number", &o->meterNumber, error))
        return false;
    if (!isSet("call-in")) {
        for (const char *name :
             {"call-in-id", "call-in-id-mode", "heartbeat", "heartbeat-every", "reconnect-after",
              "packet-bytes", "meters", "connect-spread", "call-in-source", "leave-stale"}) {
            if (isSet(name)) {
                *error = QStringLiteral("--%1 needs --call-in").arg(QLatin1String(name));
                return false;
            }
        }
        return true;
    }
    if (!o->linkPath.isEmpty() || o->tcpListenPort >= 0 || isSet("modem")) {
        *error = QStringLiteral("--call-in does not go with --link, --tcp-listen or --modem: the "
                                "router's connection is the meter's line");
        return false;
    }
    if (!parseCallInAddresses(value("call-in"), &c.addresses, error))
        return false;
    if ((isSet("meters") && !toInt(value("meters"), 1, 100000, "meters", &c.meters, error)) ||
        (isSet("packet-bytes") &&
         !toInt(value("packet-bytes"), 1, 65536, "packet-bytes", &c.packetBytes, error)) ||
        (isSet("reconnect-after") && !parseSeconds(value("reconnect-after"), 0.01, 3600,
                                                   "reconnect-after", &c.reconnectAfterMs, error)) ||
        (isSet("connect-spread") && !parseSeconds(value("connect-spread"), 0, 3600,
                                                  "connect-spread", &c.connectSpreadMs, error)))
        return false;
    if (o->meterNumber + c.meters - 1 > 1000000) {
        *error = QStringLiteral("--meter-number and --meters would number meters past 1000000");
        return false;
    }
    c.leaveStale = isSet("leave-stale");
    if (isSet("heartbeat-every")) {
        c.heartbeatEveryMs.clear();
        for (const QString &item : value("heartbeat-every").split(QLatin1Char(','))) {
            int ms = 0;
            if (item.trimmed() != QLatin1String("0") &&
                !parseSeconds(item, 0.01, 86400, "heartbeat-every", &ms, error))
                return false;
            c.heartbeatEveryMs << ms;
        }
    }
    if (isSet("call-in-source")) {
        const QStringList parts = value("call-in-source").trimmed().split(QLatin1Char('.'));
        quint32 address = 0;
        bool ok = parts.size() == 4;
        for (const QString &part : parts) {
            const uint byte = part.toUInt(&ok);
            ok = ok && byte <= 255;
            if (!ok)
                break;
            address = address << 8 | byte;
        }
        if (!ok || address == 0 ||
            quint64(address) + quint64(o->meterNumber + c.meters - 2) > 0xFFFFFFFFull) {
            *error = QStringLiteral("--call-in-source wants an IPv4 address A.B.C.D with room "
                                    "for one address a meter, not \"%1\"")
                         .arg(value("call-in-source"));
            return false;
        }
        c.sourceBase = address;
    }
    if (isSet("heartbeat")) {
        bool hex = false;
        QString why;
        if (!parseByteText(value("heartbeat"), kMaxHeartbeatBytes, &c.heartbeat, &hex, &why)) {
            *error = QStringLiteral("--heartbeat: %1").arg(why);
            return false;
        }
    } else if (isSet("heartbeat-every")) {
        *error = QStringLiteral("--heartbeat-every needs --heartbeat (what to send)");
        return false;
    }
    if (isSet("call-in-id")) {
        QString why;
        if (!parseByteText(value("call-in-id"), kMaxIdBytes, &c.id, &c.idIsHex, &why)) {
            *error = QStringLiteral("--call-in-id: %1").arg(why);
            return false;
        }
        if (!c.idIsHex && !checkIdPattern(c.id, error))
            return false;
        if (c.meters > 1 && c.idIsHex) {
            *error = QStringLiteral("--call-in-id: a hex: ID cannot be numbered, and %1 meters "
                                    "need an ID each; give a text pattern such as north-%04d")
                         .arg(c.meters);
            return false;
        }
        if (c.meters > 1 && !isNumberedId(c.id)) {
            *error = QStringLiteral("--call-in-id \"%1\" would give all %2 meters the same ID; "
                                    "put a number in it, e.g. %1-%04d")
                         .arg(QString::fromUtf8(c.id))
                         .arg(c.meters);
            return false;
        }
        c.idModes = {IdMode::First};
    }
    if (isSet("call-in-id-mode")) {
        c.idModes.clear();
        for (const QString &item : value("call-in-id-mode").split(QLatin1Char(','))) {
            const QString mode = item.trimmed().toLower();
            if (mode == QLatin1String("none")) {
                c.idModes << IdMode::None;
            } else if (mode == QLatin1String("first") || mode == QLatin1String("every")) {
                if (c.id.isEmpty()) {
                    *error = QStringLiteral("--call-in-id-mode %1 needs --call-in-id").arg(mode);
                    return false;
                }
                c.idModes << (mode == QLatin1String("first") ? IdMode::First : IdMode::Every);
            } else {
                *error = QStringLiteral("--call-in-id-mode wants first, every or none (or a "
                                        "list of them), not \"%1\"")
                             .arg(value("call-in-id-mode"));
                return false;
            }
        }
    }
    return true;
}

QList<QCommandLineOption> buildOptions()
{
    QList<QCommandLineOption> list;
    for (const OptionInfo &option : kOptions) {
        const QString name = QLatin1String(option.name);
        const QString description = QLatin1String(option.description);
        if (option.valueName)
            list << QCommandLineOption(name, description, QLatin1String(option.valueName));
        else
            list << QCommandLineOption(name, description);
    }
    list << QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("Show this help."));
    list << QCommandLineOption(QStringLiteral("version"), QStringLiteral("Show the version."));
    return list;
}

void setUp(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Simulated Ostrand flow meter: a Modbus RTU slave on a pseudo-terminal, "
                       "with a data log, a live display and a keypad, for training, tests and "
                       "checking a setup without a meter."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(buildOptions());
}

// A decimal number from `low` to `high` (both included unless `aboveLow`).
bool toDouble(const QString &text, double low, double high, bool aboveLow, const char *what,
              double *value, QString *error)
{
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(parsed) || parsed < low || (aboveLow && parsed == low) ||
        parsed > high) {
        *error = QStringLiteral("--%1 wants a number %2 %3 to %4, not \"%5\"")
                     .arg(QLatin1String(what), aboveLow ? QStringLiteral("above")
                                                        : QStringLiteral("from"))
                     .arg(low)
                     .arg(high)
                     .arg(text);
        return false;
    }
    *value = parsed;
    return true;
}

// The survey options (see SurveySettings); false with `error` set when they make no sense.
bool parseSurvey(const QCommandLineParser &parser, SimOptions *o, QString *error)
{
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    SurveySettings &s = o->survey;
    s.enabled = isSet("survey");
    if (!s.enabled) {
        for (const char *name : {"survey-diameter", "survey-slope", "survey-n", "survey-silt",
                                 "survey-noise", "survey-storm", "survey-gaps"}) {
            if (isSet(name)) {
                *error = QStringLiteral("--%1 needs --survey").arg(QLatin1String(name));
                return false;
            }
        }
        return true;
    }
    for (const char *name : {"log-file", "labels", "channels"}) {
        if (isSet(name)) {
            *error = QStringLiteral("--survey makes its own four channels; it does not go "
                                    "with --%1")
                         .arg(QLatin1String(name));
            return false;
        }
    }
    const auto number = [&](const char *name, double low, double high, bool aboveLow,
                            double *target) {
        return !isSet(name) || toDouble(value(name), low, high, aboveLow, name, target, error);
    };
    if (!number("survey-diameter", 10, 10000, false, &s.diameterMm) ||
        !number("survey-slope", 0, 1, true, &s.slope) ||
        !number("survey-n", 0, 1, true, &s.manningN) ||
        !number("survey-silt", 0, s.diameterMm / 2, false, &s.siltMm) ||
        !number("survey-noise", 0, 0.5, false, &s.noise))
        return false;
    for (const QString &text : parser.values(QStringLiteral("survey-storm"))) {
        SurveySettings::Span storm;
        if (!parseSurveySpan(text, 3600, "survey-storm", &storm, error))
            return false;
        s.storms << storm;
    }
    for (const QString &list : parser.values(QStringLiteral("survey-gaps"))) {
        for (const QString &text : list.split(QLatin1Char(','))) {
            SurveySettings::Span gap;
            if (!parseSurveySpan(text, 60, "survey-gaps", &gap, error))
                return false;
            s.gaps << gap;
        }
    }
    o->labels = surveyLabels();
    o->channels = int(o->labels.size());
    return true;
}

} // namespace

QString defaultLabel(int channel)
{
    static const QStringList labels{QStringLiteral("Flow"),        QStringLiteral("Flow Tot"),
                                    QStringLiteral("Level"),       QStringLiteral("Velocity"),
                                    QStringLiteral("Temperature"), QStringLiteral("Flow 2"),
                                    QStringLiteral("Level 2"),     QStringLiteral("Total 2")};
    return labels.value(channel - 1);
}

QString helpText()
{
    QCommandLineParser parser;
    setUp(parser);
    QString text = parser.helpText();
    text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                 QStringLiteral("Usage: ostrand-metersim"));
    return text + QLatin1String(kHelpTail);
}

bool parseOptions(const QStringList &arguments, SimOptions *options, QString *error)
{
    QCommandLineParser parser;
    setUp(parser);
    if (!parser.parse(QStringList{QStringLiteral("ostrand-metersim")} + arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error =
            QStringLiteral("Unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return false;
    }
    SimOptions o;
    o.showHelp = parser.isSet(QStringLiteral("help"));
    o.showVersion = parser.isSet(QStringLiteral("version"));
    const auto value = [&parser](const char *name) { return parser.value(QLatin1String(name)); };
    const auto isSet = [&parser](const char *name) { return parser.isSet(QLatin1String(name)); };
    const auto number = [&](const char *name, int low, int high, int *target) {
        return !isSet(name) || toInt(value(name), low, high, name, target, error);
    };

    o.linkPath = value("link");
    if (isSet("tcp-listen")
        && !parseListenAddress(value("tcp-listen").trimmed(), &o.tcpListenHost, &o.tcpListenPort)) {
        *error = QStringLiteral("--tcp-listen wants [HOST:]PORT with a port from 0 to 65535, not \"%1\"")
                     .arg(value("tcp-listen"));
        return false;
    }
    if (o.tcpListenPort >= 0 && isSet("modem")) {
        *error = QStringLiteral("--modem needs a pseudo-terminal; it does not go with --tcp-listen");
        return false;
    }
    o.portable = isSet("portable");
    o.wrap = isSet("wrap");
    o.logFile = value("log-file");
    o.modem = isSet("modem");
    o.verbose = isSet("verbose");
    o.echo = isSet("echo");
    if (!parseCallIn(parser, &o, error))
        return false;
    if (!parseSurvey(parser, &o, error))
        return false;
    o.faults.silent = isSet("silent");
    o.faults.corruptCrc = isSet("corrupt-crc");
    o.faults.corruptOnce = isSet("corrupt-crc-once");
    o.faults.dropMidDownload = isSet("drop-mid-download");
    o.faults.dropBeforeConfirmReply = isSet("drop-before-confirm-reply");

    if (isSet("labels")) {
        for (const QString &label : value("labels").split(QLatin1Char(','))) {
            const QString trimmed = label.trimmed();
            if (trimmed.size() > kSetupLabelLength) {
                *error = QStringLiteral("Label \"%1\" is longer than %2 characters")
                             .arg(trimmed)
                             .arg(kSetupLabelLength);
                return false;
            }
            o.labels << trimmed;
        }
        o.channels = std::min<int>(o.labels.size(), kChannelCount);
    }
    int dropAfter = -1;
    int dropEachLineAfter = -1;
    if (!number("slave", 1, 255, &o.slaveAddress) || !number("channels", 1, 8, &o.channels) ||
        !number("interval-minutes", 1, 1440, &o.intervalMinutes) ||
        !number("records", 0, 1000000, &o.records) ||
        !number("log-every-seconds", 0, 86400, &o.logEverySeconds) ||
        !number("alarms", 0, 63, &o.alarmBits) ||
        !number("connect-delay-ms", 0, 600000, &o.modemSettings.connectDelayMs) ||
        !number("guard-ms", 0, 60000, &o.modemSettings.guardMs) ||
        !number("delay-ms", 0, 600000, &o.faults.delayMs) ||
        !number("corrupt-every", 1, 1000000, &o.faults.corruptEvery) ||
        !number("drop-after", 0, 2000000000, &dropAfter) ||
        !number("drop-each-line-after", 1, 2000000000, &dropEachLineAfter) ||
        !number("baud", 0, 4000000, &o.baud))
        return false;
    o.faults.dropAfterBytes = dropAfter;
    o.faults.dropEachLineAfter = dropEachLineAfter;
    if (isSet("baud"))
        o.modemSettings.lineSpeed = o.baud > 0 ? o.baud : o.modemSettings.lineSpeed;
    if (isSet("dial-result"))
        o.modemSettings.dialResult = value("dial-result").trimmed().toUpper();

    for (const QString &text : parser.values(QStringLiteral("dead-block"))) {
        LogAddress address;
        if (!parseLogAddress(text, &address)) {
            *error = QStringLiteral("--dead-block wants three hexadecimal bytes p1:p2:p3, "
                                    "not \"%1\"")
                         .arg(text);
            return false;
        }
        o.faults.deadBlocks << address;
    }
    for (const QString &text : parser.values(QStringLiteral("refuse-function"))) {
        const QStringList parts = text.split(QLatin1Char(':'));
        bool functionOk = false;
        bool codeOk = false;
        const int function = parts.value(0).trimmed().toInt(&functionOk, 0);
        const int code = parts.value(1).trimmed().toInt(&codeOk, 0);
        if (parts.size() != 2 || !functionOk || !codeOk || function < 1 || function > 0x7F ||
            code < 1 || code > 255) {
            *error = QStringLiteral("--refuse-function wants a function 1-0x7F and an exception "
                                    "code 1-255 as fn:code, not \"%1\"")
                         .arg(text);
            return false;
        }
        o.faults.refusals.insert(function, code);
    }
    if (isSet("start")) {
        o.start =
            QDateTime::fromString(value("start").trimmed(), QStringLiteral("yyyy-MM-dd HH:mm"));
        if (!o.start.isValid()) {
            *error = QStringLiteral("--start wants \"YYYY-MM-DD HH:MM\", not \"%1\"")
                         .arg(value("start"));
            return false;
        }
        o.start = QDateTime(o.start.date(), o.start.time(), Qt::UTC);
    }
    *options = o;
    return true;
}

} // namespace ostrand::sim

#include "cli_common.h"
#include "command_registry.h"
#include "display/display_poller.h"
#include "display/display_units.h"
#include "display/display_view.h"
#include "display/keypad.h"
#include "display/meter_type.h"
#include "line/line_options.h"
#include "line/meter_line.h"
#include "platform/file_locations.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cstdio>
#include <optional>

namespace ostrand::cli {

int runDisplayCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "display",
    "  display --port PORT [--baud RATE] [--slave ID] --type 7700|8100|8300|r1900\n"
    "          [--flow-units N] [--total-units N] [--flow-format N] [--velocity-units N]\n"
    "          [--keys KEYS] [--ticks N] [--reply-timeout MS] [--connect-timeout MS]\n"
    "          [--request-gap MS] [--echo]\n"
    "      Polls the meter's display as the Display Meter tab does: N ticks (default 1)\n"
    "      at the type's timer period (750 ms for the 7700, 1000 ms for the others).\n"
    "      After each tick prints the five display lines as L1|..., L2|..., L3|...,\n"
    "      L4|... and AL|... (the alarm line), one byte per character (Latin-1). A line\n"
    "      whose exchange failed keeps its text; lines start empty. --reply-timeout,\n"
    "      --request-gap, --echo: as for download.\n"
    "      Unit options take list positions; -1, the default, is no selection (flow in\n"
    "      CFS as #.#, velocity in FPS, totals in whole CUFT):\n"
    "        --flow-units 0-14: GPM GPD MGD CFS CFM CFD LPS LPM LPD MLD M3S M3H M3D IGM BPH\n"
    "        --total-units 0-6: GAL MET3 LTRS IGAL BARR CUFT ACFT\n"
    "        --flow-format 0-3: #. #.# #.## #.###    --velocity-units 0-1: FPS MPS\n"
    "      KEYS (7700 only, up to 64): keypad codes 0-9 . N(Up/Next) L(Down) M(Menu)\n"
    "      E(Enter) F(2nd), queued before the first tick and sent one a tick.\n"
    "      Exit status: 0 (a failed exchange is shown only by unchanged lines).\n",
    30, &runDisplayCommand}};

std::optional<MeterType> parseMeterType(const QString &text)
{
    const QString name = text.toLower();
    if (name == QLatin1String("7700"))
        return MeterType::Series7700;
    if (name == QLatin1String("8100"))
        return MeterType::Model8100;
    if (name == QLatin1String("8300"))
        return MeterType::Model8300;
    if (name == QLatin1String("r1900"))
        return MeterType::R1900Portable;
    return std::nullopt;
}

// A list position: -1 for no selection, else one of the list's items.
std::optional<int> parsePosition(const QString &text, int combo)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < -1 || value >= unitList(combo).items.size())
        return std::nullopt;
    return value;
}

std::optional<QByteArray> parseKeys(const QString &text)
{
    const QByteArray codes = text.toUpper().toLatin1();
    if (codes.size() > KeyQueue::kCapacity)
        return std::nullopt;
    for (const char code : codes) {
        if (!isKeypadCode(code))
            return std::nullopt;
    }
    return codes;
}

// Written as bytes: the meter's characters are single bytes, whatever the terminal's encoding.
void printLines(const DisplayLines &view)
{
    static const char *const tags[kDisplayLineCount] = {"L1|", "L2|", "L3|", "L4|", "AL|"};
    for (int line = 0; line < kDisplayLineCount; ++line) {
        const QByteArray bytes =
            tags[line] + view.lines[static_cast<std::size_t>(line)].toLatin1() + '\n';
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    }
    std::fflush(stdout);
}

// Lets the link's late bytes and the port's events through until `dueMs`, as the window does
// between ticks.
void waitUntil(const Clock &clock, EventPump &pump, std::int64_t dueMs)
{
    for (std::int64_t now = clock.monotonicMs(); now < dueMs; now = clock.monotonicMs())
        pump.yield(static_cast<int>(std::min<std::int64_t>(dueMs - now, 50)));
}

// What the command line asks for, once it made sense.
struct DisplayRequest {
    LineChoice line;
    DisplaySelection selection;
    QByteArray keys;
    int ticks = 1;
};

void addOptions(QCommandLineParser &parser)
{
    const auto option = [&](const char *name, const char *description, const char *valueName,
                            const char *defaultValue) {
        QCommandLineOption o{QString::fromLatin1(name), QString::fromLatin1(description)};
        if (valueName)
            o.setValueName(QLatin1String(valueName));
        if (defaultValue)
            o.setDefaultValue(QLatin1String(defaultValue));
        parser.addOption(o);
    };
    addLineOptions(parser, kMeterLineKeys);
    option("type", "Meter type.", "TYPE", nullptr);
    option("flow-units", "Flow units position.", "N", "-1");
    option("total-units", "Total units position.", "N", "-1");
    option("flow-format", "Flow format position.", "N", "-1");
    option("velocity-units", "Velocity units position.", "N", "-1");
    option("keys", "Keypad codes to send.", "KEYS", nullptr);
    option("ticks", "Polls to run.", "N", "1");
}

// The request, or the usage error's exit status in `status`.
std::optional<DisplayRequest> parseRequest(const QStringList &arguments, int &status)
{
    const auto fail = [&](const QString &message) {
        status = usageError(message);
        return std::nullopt;
    };
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };

    DisplayRequest request;
    QString problem;
    const auto line = lineChoiceFrom(parser, kMeterLineKeys, QStringLiteral("display"), &problem);
    if (!line)
        return fail(problem);
    request.line = *line;
    const auto type = parseMeterType(value("type"));
    if (!type)
        return fail(QStringLiteral("display needs --type 7700, 8100, 8300 or r1900"));
    request.selection.type = *type;

    const struct {
        const char *option;
        int combo;
        int *position;
    } lists[] = {
        {"flow-units", 1, &request.selection.flowUnits},
        {"total-units", 2, &request.selection.totalUnits},
        {"flow-format", 3, &request.selection.flowFormat},
        {"velocity-units", 4, &request.selection.velocityUnits},
    };
    for (const auto &list : lists) {
        const auto position = parsePosition(value(list.option), list.combo);
        if (!position) {
            return fail(QStringLiteral("--%1 takes -1 to %2")
                            .arg(QLatin1String(list.option))
                            .arg(unitList(list.combo).items.size() - 1));
        }
        *list.position = *position;
    }

    const auto keys = parseKeys(value("keys"));
    if (!keys)
        return fail(QStringLiteral("--keys takes up to 64 of the codes 0-9 . N L M E F"));
    if (!keys->isEmpty() && meterTypeInfo(*type).poll != PollKind::TextDisplay)
        return fail(QStringLiteral("--keys needs --type 7700: only it has a keypad"));
    request.keys = *keys;
    bool ticksOk = false;
    request.ticks = value("ticks").toInt(&ticksOk);
    if (!ticksOk || request.ticks < 1)
        return fail(QStringLiteral("--ticks takes a whole number from 1 up"));
    return request;
}

} // namespace

int runDisplayCommand(const QStringList &arguments)
{
    int status = 0;
    const auto request = parseRequest(arguments, status);
    if (!request)
        return status;

    MeterLine line(fileLocationsAtStartUp().comLinkDirs(), request->line);
    DisplayLines view;
    view.selected = request->selection;
    DisplayPoller poller(line.link(), view);
    for (const char code : request->keys)
        poller.queueKey(code);

    const MeterType type = request->selection.type;
    const int periodMs = meterTypeInfo(type).periodMs;
    const std::int64_t startMs = line.clock().monotonicMs();
    for (int tick = 0; tick < request->ticks; ++tick) {
        // Like a timer, ticks keep to their schedule; one that overran is followed at once.
        if (tick > 0)
            waitUntil(line.clock(), line.pump(), startMs + static_cast<std::int64_t>(tick) * periodMs);
        poller.poll(type);
        printLines(view);
    }
    if (!line.port().isOpen())
        std::fprintf(stderr, "ostrand-cli: the port did not open: %s\n",
                     qPrintable(line.port().errorString()));
    line.close();
    return code(ExitStatus::Done);
}

} // namespace ostrand::cli

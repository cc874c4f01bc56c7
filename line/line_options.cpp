#include "line_options.h"

#include <QCommandLineParser>

namespace ostrand {
namespace {

QCommandLineOption optionFor(LineKey key)
{
    const LineChoice defaults;
    const QString name = lineKeyName(key);
    switch (key) {
    case LineKey::Port:
        return {name, QStringLiteral("COM1 to COM4, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT."),
                QStringLiteral("PORT")};
    case LineKey::Baud:
        return {name, QStringLiteral("Line speed."), QStringLiteral("RATE"), defaults.baud};
    case LineKey::Slave:
        return {name, QStringLiteral("Modbus slave ID."), QStringLiteral("ID"), QString::number(defaults.slave)};
    case LineKey::ReplyTimeout:
        return {name, QStringLiteral("Reply time on a slow line."), QStringLiteral("MS"),
                QString::number(defaults.replyTimeoutMs)};
    case LineKey::RequestGap:
        return {name, QStringLiteral("Pause between a reply and the next request."), QStringLiteral("MS"),
                QString::number(defaults.requestGapMs)};
    case LineKey::Echo:
        return {name, QStringLiteral("The adapter returns every byte sent (2-wire RS-485).")};
    case LineKey::ConnectTimeout:
        return {name, QStringLiteral("How long connecting to a device server may take."), QStringLiteral("MS"),
                QString::number(defaults.connectTimeoutMs)};
    }
    return {name, QString()};
}

} // namespace

void addLineOptions(QCommandLineParser &parser, const QList<LineKey> &keys)
{
    for (const LineKey key : keys)
        parser.addOption(optionFor(key));
}

std::optional<LineChoice> lineChoiceFrom(const QCommandLineParser &parser, const QList<LineKey> &keys,
                                         const QString &command, QString *problem)
{
    LineChoice choice;
    for (const LineKey key : keys) {
        const QString name = lineKeyName(key);
        // A port has no default: a guessed COM1 could be another device's line.
        if (key == LineKey::Port && !parser.isSet(name)) {
            *problem = QStringLiteral("%1 needs --port").arg(command);
            return std::nullopt;
        }
        // A flag on the command line, "true" or "false" in a stations file.
        const QString text = key == LineKey::Echo ? QString::fromLatin1(parser.isSet(name) ? "true" : "false")
                                                  : parser.value(name);
        if (!takeLineValue(choice, key, text)) {
            *problem = optionProblem(key);
            return std::nullopt;
        }
    }
    return choice;
}

} // namespace ostrand

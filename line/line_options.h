#pragma once

#include "line/line_choice.h"
#include "line/line_values.h"

#include <QList>
#include <QString>
#include <optional>

class QCommandLineParser;

namespace ostrand {

// Declares --port, --baud, --slave, --reply-timeout, --request-gap and --echo
// as far as `keys` has them, with LineChoice's defaults; --port, when
// declared, has none, and --echo is a flag.
void addLineOptions(QCommandLineParser &parser, const QList<LineKey> &keys);

// The choice that the options of `keys` make on an already parsed command
// line, checked in the order of `keys`; nullopt with *problem set to the
// usage error when one is missing or wrong. `command` names the command in
// "COMMAND needs --port".
std::optional<LineChoice> lineChoiceFrom(const QCommandLineParser &parser, const QList<LineKey> &keys,
                                         const QString &command, QString *problem);

// What the commands that talk to a meter take.
inline const QList<LineKey> kMeterLineKeys = {LineKey::Port,         LineKey::Baud,           LineKey::Slave,
                                              LineKey::ReplyTimeout, LineKey::ConnectTimeout, LineKey::RequestGap,
                                              LineKey::Echo};
// What collect takes for every station, each of which may say otherwise.
inline const QList<LineKey> kStationDefaultKeys = {LineKey::ReplyTimeout, LineKey::ConnectTimeout,
                                                   LineKey::RequestGap, LineKey::Echo};
// What a modem alone needs.
inline const QList<LineKey> kModemLineKeys = {LineKey::Port, LineKey::Baud};

} // namespace ostrand

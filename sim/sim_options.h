#pragma once

#include "call_in_settings.h"
#include "fault_policy.h"
#include "hayes_modem.h"
#include "survey_site.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace ostrand::sim {

// Everything the command line can say.
struct SimOptions {
    QString linkPath; // symbolic link to the pseudo-terminal (empty: none)
    // Serve on TCP instead of a pseudo-terminal (port -1: no; 0: one the system picks).
    QString tcpListenHost;
    int tcpListenPort = -1;
    int slaveAddress = 1;
    bool portable = false; // "R1900 Portable" pointer register layout
    int channels = 3;
    QStringList labels; // labels of channels 1.. as given (may be short)
    int intervalMinutes = 15;
    int records = 96; // logging instants
    QDateTime start;  // first instant; invalid: the log ends at the present
    bool wrap = false;
    QString logFile;
    int logEverySeconds = 0; // live logging (0: off)
    int alarmBits = 0;
    bool modem = false;
    ModemSettings modemSettings;
    FaultSettings faults;
    int baud = 0; // output pacing (0: none)
    bool echo = false; // a 2-wire RS-485 adapter: every byte received goes back at once
    CallInSettings callIn; // meters behind routers that call a collector
    SurveySettings survey; // a flow-survey site instead of the plain log
    // The meter's number in a fleet (the first one's with --meters): its log and its ID.
    int meterNumber = 1;
    bool verbose = false;
    bool showHelp = false;
    bool showVersion = false;
};

// Parses the arguments after the program name. False with `error` set when they make no
// sense; --help and --version only set their flags.
bool parseOptions(const QStringList &arguments, SimOptions *options, QString *error);

// The full --help text: options, the log file format and examples.
QString helpText();

// The default label of channel `channel` (1-8).
QString defaultLabel(int channel);

} // namespace ostrand::sim

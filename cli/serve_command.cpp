#include "cli_common.h"
#include "collect/stations_file.h"
#include "command_registry.h"
#include "exit_status.h"
#include "store/store_open.h"
#include "web/access_token.h"
#include "web/status_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace ostrand::cli {

int runServeCommand(const QStringList &arguments);

namespace {

const RegisterCommand registration{{
    "serve",
    "  serve --stations FILE [--listen HOST:PORT] [--token-file FILE]\n"
    "        [--tls-cert FILE --tls-key FILE] [--stale-after HOURS]\n"
    "      Serves the fleet's status page (/), each station's page (/station/NAME)\n"
    "      and their JSON (/api/stations, /api/stations/NAME/readings) from the\n"
    "      store of FILE's [store] group, read-only, until SIGTERM or SIGINT;\n"
    "      prints the address it serves on once listening. HOST:PORT defaults to\n"
    "      127.0.0.1:8080 (port 0: one the system picks). Any address other than a\n"
    "      loopback one needs --token-file: a file only its owner (and group) may\n"
    "      read, holding one token of at least 16 printable characters, which\n"
    "      every request must then carry as \"Authorization: Bearer TOKEN\" or as\n"
    "      the password of HTTP Basic authentication (a browser asks for it).\n"
    "      --tls-cert and --tls-key (PEM) serve HTTPS; use them, or a reverse\n"
    "      proxy on the same host, whenever the page leaves the machine. Only GET\n"
    "      and HEAD are answered. 1024 connections in all, 64 from one address;\n"
    "      a request not arrived whole in 10 s, or a connection idle 30 s, is\n"
    "      closed. --stale-after HOURS is status's (default 26).\n"
    "      Exit status: 0 stopped by a signal; 7 the store could not be opened;\n"
    "      64 bad usage, a bad stations file, token file or certificate, or an\n"
    "      address it could not listen on.\n",
    19, &runServeCommand}};


QString urlOf(bool https, const QHostAddress &address, quint16 port)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1://%2:%3/").arg(https ? QStringLiteral("https") : QStringLiteral("http"), host).arg(port);
}

} // namespace

int runServeCommand(const QStringList &arguments)
{
    QCommandLineParser parser;
    for (const char *name : {"stations", "listen", "token-file", "tls-cert", "tls-key", "stale-after"})
        parser.addOption({QLatin1String(name), QStringLiteral("See --help."), QStringLiteral("VALUE")});
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.value(QStringLiteral("stations")).isEmpty())
        return usageError(QStringLiteral("serve needs --stations"));
    QString staleProblem;
    const std::optional<double> hoursGiven = staleAfterHours(parser, &staleProblem);
    if (!hoursGiven)
        return usageError(staleProblem);
    const double staleHours = *hoursGiven;
    const QString listen = parser.isSet(QStringLiteral("listen")) ? parser.value(QStringLiteral("listen"))
                                                                  : QStringLiteral("127.0.0.1:8080");
    QHostAddress address;
    quint16 port = 0;
    QString problem;
    if (!web::parseListen(listen, &address, &port, &problem))
        return usageError(problem);
    const QString tokenFile = parser.value(QStringLiteral("token-file"));
    if (parser.isSet(QStringLiteral("token-file")) && tokenFile.isEmpty())
        return usageError(QStringLiteral("--token-file needs a file name"));
    if (tokenFile.isEmpty() && !address.isLoopback())
        return usageError(QStringLiteral("--listen %1 reaches other machines: give --token-file FILE so that only "
                                         "those holding the token see the fleet (or listen on 127.0.0.1)")
                              .arg(listen));
    const QString certPath = parser.value(QStringLiteral("tls-cert"));
    const QString keyPath = parser.value(QStringLiteral("tls-key"));
    if (certPath.isEmpty() != keyPath.isEmpty())
        return usageError(QStringLiteral("--tls-cert and --tls-key go together"));

    QString error;
    const auto fixedNow = commandNowUtc(&error);
    if (!fixedNow)
        return usageError(error);
    const collect::StationsFile file = collect::readStationsFile(parser.value(QStringLiteral("stations")));
    if (!file.error.isEmpty()) {
        printDetail(QStringLiteral("ostrand-cli: ") + file.error);
        return code(ExitStatus::Usage);
    }
    if (!file.store)
        return usageError(QStringLiteral("%1 has no [store] group: the page is drawn from the store that collect "
                                         "fills (url=sqlite:PATH or a PostgreSQL URI)")
                              .arg(parser.value(QStringLiteral("stations"))));

    web::ServerSettings settings;
    settings.site.stations = file.stations;
    settings.site.staleAfterSeconds = qint64(staleHours * 3600);
    settings.store = *file.store;
    if (!tokenFile.isEmpty()) {
        const web::AccessToken token = web::readAccessToken(tokenFile);
        if (!token.ok())
            return usageError(token.problem);
        settings.token = token.token;
    }
    if (!certPath.isEmpty()) {
        settings.tls = web::readTlsFiles(certPath, keyPath, &problem);
        if (!settings.tls)
            return usageError(problem);
    }
    // OSTRAND_CLI_NOW holds the pages at one instant, as for status.
    if (!qEnvironmentVariable("OSTRAND_CLI_NOW").isEmpty())
        settings.nowUtc = [now = *fixedNow] { return now; };

    // Opened once before listening, so a wrong store is said now and not on every page.
    if (!collect::openStoreReader(settings.store, &error)) {
        printDetail(QStringLiteral("ostrand-cli: the store %1 could not be read: %2")
                        .arg(collect::storeName(settings.store), error));
        return code(ExitStatus::StoreFailed);
    }

    const std::atomic<bool> &stopAsked = catchStopSignals();
    const bool https = settings.tls.has_value();
    web::StatusServer server(std::move(settings));
    const quint16 listening = server.listenOn(address, port, &problem);
    if (listening == 0) {
        printDetail(QStringLiteral("ostrand-cli: ") + problem);
        return code(ExitStatus::Usage);
    }
    std::fprintf(stdout, "%s\n", qPrintable(urlOf(https, address, listening)));
    std::fflush(stdout);

    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, [&stopAsked] {
        if (stopAsked)
            QCoreApplication::quit();
    });
    stopWatch.start(100);
    QCoreApplication::exec();
    return code(ExitStatus::Done);
}

} // namespace ostrand::cli

#include "termination_signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrand::sim {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int number)
{
    const char byte = static_cast<char>(number);
    const ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    (void)ignored;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (g_pipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return;
    fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals()
{
    struct sigaction action {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaction(number, &action, nullptr);
}

void TerminationSignals::drain()
{
    char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        emit received(static_cast<unsigned char>(byte));
}

} // namespace ostrand::sim

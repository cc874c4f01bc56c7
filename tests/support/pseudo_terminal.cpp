#include "pseudo_terminal.h"

#include <QElapsedTimer>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace ostrand {

QByteArray readFor(int fd, int count, int timeoutMs, bool stopOnHangUp)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (fd >= 0 && got.size() < count && timer.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 20);
        if (ready > 0 && !(p.revents & POLLIN)) {
            if (stopOnHangUp)
                break;
            usleep(5000); // hung up with no other end open: poll would return at once
        }
        if (ready <= 0 || !(p.revents & POLLIN))
            continue;
        char buf[256];
        const ssize_t n = ::read(fd, buf, std::min<qsizetype>(sizeof buf, count - got.size()));
        if (n > 0)
            got.append(buf, n);
        else if (stopOnHangUp)
            break;
    }
    return got;
}

PseudoTerminal::PseudoTerminal()
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd >= 0 && (grantpt(fd) != 0 || unlockpt(fd) != 0 || !ptsname(fd)))
        ::close(fd);
    else if (fd >= 0) {
        // Raw master: the line discipline must not echo or translate the bytes we check.
        termios tio{};
        if (tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
        }
        master_ = fd;
        slavePath_ = QString::fromLocal8Bit(ptsname(fd));
    }
}

PseudoTerminal::~PseudoTerminal() { hangUp(); }
QByteArray PseudoTerminal::read(int count, int timeoutMs) { return readFor(master_, count, timeoutMs); }

bool PseudoTerminal::write(const QByteArray &bytes)
{
    return master_ >= 0 && ::write(master_, bytes.constData(), bytes.size()) == bytes.size();
}

void PseudoTerminal::hangUp()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

} // namespace ostrand

#include "paced_writer.h"

#include <QSignalSpy>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrand::sim;

namespace {

struct Pipe {
    Pipe()
    {
        EXPECT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
    }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    QByteArray drain()
    {
        QByteArray got;
        char buf[512];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            got.append(buf, int(n));
        return got;
    }
    int fds[2] = {-1, -1};
};

} // namespace

TEST(PacedWriter, StopsAtTheDropPointAndAsksForTheLineToDrop)
{
    Pipe pipe;
    PacedWriter writer(0);
    writer.setFd(pipe.fds[1]);
    QSignalSpy dropped(&writer, &PacedWriter::dropReached);
    writer.write("abcdefghij", 4);
    writer.write("more");
    EXPECT_EQ(pipe.drain(), QByteArray("abcd"));
    EXPECT_EQ(dropped.count(), 1);
    writer.setFd(pipe.fds[1]);
    writer.write("again");
    EXPECT_EQ(pipe.drain(), QByteArray("again")) << "unpaced, all at once, on the new line";
}

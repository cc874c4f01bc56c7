#pragma once

namespace ostrand {

class SerialLink;

// What a slow path (a modem, a radio hop) taught the link: the resend interval
// for the rest of the operation, and the answers still due to requests it
// sent more than once, which the next exchange must not take for its own.
class SlowPath {
public:
    // The resend interval learnt in this operation; 0 for none.
    double resend() const { return resend_; }
    // A reply came only after `extraSends` more sends of its request, on the
    // port as opened the `openCount`-th time; `interval` is what it called for.
    void learn(double interval, int extraSends, int openCount);
    // The operation ended: its interval is not the next one's.
    void forgetResend() { resend_ = 0; }
    // Waits out the stray answers, unless the port was reopened since (a
    // reopened port has lost whatever was still on its way).
    void drainStrays(SerialLink &link);

private:
    double resend_ = 0;
    int strays_ = 0;
    int strayOpenCount_ = 0;
    double strayQuiet_ = 0;
};

} // namespace ostrand

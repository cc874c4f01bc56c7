#pragma once

namespace ostrand {

// Marks that an operation which fills the results grid is running. The
// operations yield to the window, so without it a click could start a second
// one inside the first, resetting lastGridRow under it.
class PalmJobLock {
public:
    // Whether an operation holds the lock.
    bool busy() const { return busy_; }

private:
    friend class PalmJobGuard;
    bool busy_ = false;
};

// Holds a PalmJobLock for its lifetime, if it was free.
class PalmJobGuard {
public:
    explicit PalmJobGuard(PalmJobLock &lock) : lock_(lock), acquired_(!lock.busy_)
    {
        lock_.busy_ = true;
    }
    ~PalmJobGuard()
    {
        if (acquired_)
            lock_.busy_ = false;
    }
    PalmJobGuard(const PalmJobGuard &) = delete;
    PalmJobGuard &operator=(const PalmJobGuard &) = delete;

    // False when another operation held the lock: this one must not start.
    bool acquired() const { return acquired_; }

private:
    PalmJobLock &lock_;
    bool acquired_;
};

} // namespace ostrand

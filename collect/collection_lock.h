#pragma once

#include <QString>

namespace ostrand::collect {

// The lock a collection holds on one station of a stations file while it
// collects it, so a run started by hand or by a timer meanwhile, or a
// listener for meters that call in, leaves that station alone and goes on
// with the others. It lives in a folder only
// this user may write, so nobody else can plant a lock that switches the
// collection off, and it is a flock() on an open file: the kernel lets go when
// the process ends, however it ends, so there is no stale lock to judge.
class CollectionLock {
public:
    enum class State { Held, Busy, Failed };

    // Takes the lock for `station` of `stationsPath` (an existing file) without waiting.
    CollectionLock(const QString &stationsPath, const QString &station);
    ~CollectionLock();
    CollectionLock(const CollectionLock &) = delete;
    CollectionLock &operator=(const CollectionLock &) = delete;

    State state() const { return state_; }
    QString path() const { return path_; }
    QString error() const { return error_; } // why it Failed: the file or folder and the reason

private:
    State state_ = State::Failed;
    QString path_;
    QString error_;
    int fd_ = -1;
};

// The folder for this user's locks, made 0700 when missing: systemd's
// $RUNTIME_DIRECTORY for a service, else $XDG_RUNTIME_DIR/ostrand when that
// folder is ours, else $XDG_STATE_HOME/ostrand (~/.local/state/ostrand). A
// folder of another owner, or one others may write, is refused: empty, with
// *error saying which folder and why.
QString lockFolder(QString *error);

} // namespace ostrand::collect

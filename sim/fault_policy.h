#pragma once

#include "log_address.h"
#include "meter.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QVector>

namespace ostrand::sim {

// Faults the meter can be told to show, for testing how the program copes.
struct FaultSettings {
    bool silent = false;            // never answers
    int delayMs = 0;                // wait before each reply
    bool corruptCrc = false;        // spoil the CRC of replies...
    int corruptEvery = 1;           // ...of every K-th reply (1: all)
    bool corruptOnce = false;       // spoil each reply the first time only: noise a retry gets past
    QVector<LogAddress> deadBlocks; // block reads covering these addresses get no answer
    qint64 dropAfterBytes = -1;     // drop the line once this many reply bytes went out
    qint64 dropEachLineAfter = -1;  // drop each line (connection) once this many went out on it
    bool dropMidDownload = false;   // drop the line halfway through the third log block
    bool dropBeforeConfirmReply = false; // take a confirmation, then drop the line unanswered
    QMap<int, int> refusals;        // function code -> the exception code it is answered with
};

// What to do with one reply.
struct FaultOutcome {
    QByteArray bytes;   // what to send; empty when nothing is
    int dropAfter = -1; // drop the line after this many bytes of `bytes` (-1: no drop)
    QString note;       // what a fault did to the reply, empty when none did
};

// Applies the fault settings to the meter's replies, one after the other. Each line drop
// happens once per run, but the one that comes back on every line.
class FaultPolicy {
public:
    explicit FaultPolicy(FaultSettings settings);

    // The fate of `reply`.
    FaultOutcome apply(const Reply &reply);
    // A fresh line (a new connection, a new pseudo-terminal) is now in use.
    void newLine();

private:
    bool hitsDeadBlock(const Reply &reply) const;

    FaultSettings settings_;
    qint64 bytesSent_ = 0;
    int repliesSent_ = 0;
    bool downloading_ = false; // pointer registers were read
    int logBlocksSincePointers_ = 0;
    bool droppedAfterBytes_ = false;
    qint64 lineBytesSent_ = 0;
    bool droppedThisLine_ = false;
    bool droppedMidDownload_ = false;
    QSet<QByteArray> spoiledOnce_;
};

} // namespace ostrand::sim

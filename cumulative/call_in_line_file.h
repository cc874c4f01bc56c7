#pragma once

#include "store/store_records.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace ostrand::collect {

// Where the listener keeps a call-in station's connection beside its output,
// for the health report of a fleet without a store: one JSON object.
QString callInLineFilePath(const QString &output);

// The most of such a file that is read: one line of a few hundred bytes.
constexpr qint64 kCallInLineReadBytes = 4096;

// The file's text for `state`, and `state` back from it (nullopt for a text
// it did not write); `station` names the state read.
QByteArray callInLineText(const CallInState &state);
std::optional<CallInState> callInLineFromText(const QByteArray &text, const QString &station);

// Replaces the file beside `output` whole, under the output's own rules (no
// link, no shared folder); false with *error set when it could not.
bool recordCallInLine(const QString &output, const CallInState &state, QString *error);

struct CallInLineRead {
    std::optional<CallInState> state; // none: the station's meter has not called in (or no file)
    QString error;                    // why the file was not read, when it is there and was not
};

// The state kept beside `output`, a missing file read as none.
CallInLineRead readCallInLine(const QString &output, const QString &station);

} // namespace ostrand::collect

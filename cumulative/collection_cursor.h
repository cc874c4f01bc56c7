#pragma once

#include "download/log_pointers.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace ostrand::collect {

// What a station's collection remembers between runs, in a small file beside
// its output: the last record stored (where it lies in the meter's log and
// its bytes), with the output as that run left it. It is written before the
// output is replaced and names both the old and the new output by digest, so
// a run killed between the two files still finds the cursor that matches the
// output it left.
struct CursorState {
    LogCursor cursor;           // after the run that wrote it
    QByteArray outputDigest;    // SHA-256 of the output that run left
    LogCursor previousCursor;   // before that run (unset: it had none)
    QByteArray previousDigest;  // of the output before that run
};

// A cursor as one line of text, "08 81 08 <16 hex digits>", or "none" when
// unset: how the cursor file and the store keep it.
QByteArray logCursorText(const LogCursor &cursor);
// nullopt when the text is not one; an unset cursor for "none".
std::optional<LogCursor> parseLogCursor(const QByteArray &text);

// "data/north-pump.csv" -> "data/north-pump.csv.cursor"
QString cursorFilePath(const QString &outputPath);

QByteArray outputDigest(const QByteArray &outputBytes);

// The state in a cursor file's text; nullopt when the text is not one.
std::optional<CursorState> parseCursorState(const QByteArray &text);
QByteArray cursorStateText(const CursorState &state);

// Whether the state was written for this output: as the last run left it, or
// as it found it (a run killed between the cursor and the output).
bool cursorBelongsTo(const CursorState &state, const QByteArray &outputBytes);

// The cursor that goes with the output as it is now: the new one, or the old
// one when the output is still the one before the last run. None for an output
// the state was not written for (a cursor file copied from another station, an
// output changed by hand): what the output holds then says what it lacks, not
// the cursor.
std::optional<LogCursor> cursorForOutput(const CursorState &state, const QByteArray &outputBytes);

} // namespace ostrand::collect

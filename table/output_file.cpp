#include "output_file.h"

#include "platform/save_file.h"
#include "table/grid_layout.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace ostrand {
namespace {

// Enough for a stamp and typical values, so a full grid's text is allocated once.
constexpr int kBytesPerStamp = 26;
constexpr int kBytesPerValue = 16;

// Straight to Latin-1: going through one UTF-16 text of the whole file would
// cost twice the memory and, on a full grid, most of the writer's time.
void appendLatin1(QByteArray &out, const QString &text)
{
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char *to = out.data() + at;
    for (const QChar c : text)
        *to++ = c.unicode() < 256 ? char(c.unicode()) : '?';
}

void appendLine(QByteArray &bytes, const ResultsGrid &grid, const GridState &state, int row)
{
    appendLatin1(bytes, grid.text(row, kStampCol));
    for (int k = 1; k <= kChannelCount; ++k) {
        if (state.channel(k).inUse) {
            bytes += ',';
            appendLatin1(bytes, grid.text(row, channelCol(k)));
        }
    }
    bytes += "\r\n";
}

QByteArray headingLine(const ResultsGrid &grid, const GridState &state)
{
    QByteArray bytes;
    appendLine(bytes, grid, state, kHeadingRow);
    return bytes;
}

// The first line of CSV bytes, without its line end.
QByteArray firstLine(const QByteArray &bytes)
{
    QByteArray line = bytes.left(bytes.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

QByteArray outputFileBytes(const ResultsGrid &grid, const GridState &state)
{
    const int lastRow = std::min(state.lastGridRow, grid.rows() - 1);
    const int inUse = int(std::count_if(state.channels.begin(), state.channels.end(),
                                        [](const Channel &channel) { return channel.inUse; }));
    QByteArray bytes;
    bytes.reserve(qsizetype(std::max(lastRow, 0)) * (kBytesPerStamp + inUse * kBytesPerValue));
    for (int row = kHeadingRow; row <= lastRow; ++row)
        appendLine(bytes, grid, state, row);
    return bytes;
}

bool writeOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path,
                     QString *error)
{
    QString reason;
    if (saveFile(path, outputFileBytes(grid, state), &reason))
        return true;
    if (error)
        *error = reason.isEmpty() ? QStringLiteral("Cannot write %1").arg(path) : reason;
    return false;
}

bool replaceOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path, QString *keptAs,
                       QString *error)
{
    QString reason;
    if (saveFileKeepingPrevious(path, outputFileBytes(grid, state), keptAs, &reason))
        return true;
    if (error)
        *error = reason.isEmpty() ? QStringLiteral("Cannot write %1").arg(path) : reason;
    return false;
}

bool outputHoldsData(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.size() > 0;
}

bool outputHeadingsMatch(const QString &path, const ResultsGrid &grid, const GridState &state)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return firstLine(file.readLine()) == firstLine(headingLine(grid, state));
}

bool appendOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path,
                      QString *error)
{
    if (!outputHoldsData(path))
        return writeOutputFile(grid, state, path, error);
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    file.close();
    const QByteArray rows = outputFileBytes(grid, state);
    const qsizetype headingEnd = rows.indexOf('\n') + 1;
    if (firstLine(bytes) != firstLine(rows))
        return fail(QStringLiteral("the headings of %1 (%2) are not this download's (%3): nothing appended; "
                                   "choose another file or replace it")
                        .arg(path, QString::fromLatin1(firstLine(bytes)), QString::fromLatin1(firstLine(rows))));
    // A file cut short by hand or by another tool still gets whole lines.
    if (!bytes.endsWith('\n'))
        bytes += "\r\n";
    bytes += rows.mid(headingEnd);
    QString reason;
    if (saveFile(path, bytes, &reason))
        return true;
    return fail(reason.isEmpty() ? QStringLiteral("Cannot write %1").arg(path) : reason);
}

QByteArray outputLine(const ResultsGrid &grid, const GridState &state, int row)
{
    QByteArray bytes;
    appendLine(bytes, grid, state, row);
    return bytes;
}

bool extendOutputFile(const ResultsGrid &grid, const GridState &state, const QString &path, int lastRowWritten,
                      const QByteArray &lastLineWritten, QString *error)
{
    const int lastRow = std::min(state.lastGridRow, grid.rows() - 1);
    if (lastRow == lastRowWritten && outputLine(grid, state, lastRow) == lastLineWritten)
        return true; // nothing came that the file lacks
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const auto linesFrom = [&](int first) {
        QByteArray lines;
        for (int row = std::max(first, kHeadingRow + 1); row <= lastRow; ++row)
            appendLine(lines, grid, state, row);
        return lines;
    };
    QString reason;
    if (writesInPlace(path)) {
        if (saveFile(path, linesFrom(lastRowWritten + 1), &reason))
            return true;
        return fail(reason.isEmpty() ? QStringLiteral("Cannot write %1").arg(path) : reason);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    file.close();
    if (lastRowWritten > kHeadingRow) {
        if (!bytes.endsWith(lastLineWritten))
            return fail(QStringLiteral("%1 changed after it was written: the rows that came since are not added")
                            .arg(path));
        bytes.chop(lastLineWritten.size());
    } else if (!bytes.isEmpty() && !bytes.endsWith('\n')) {
        bytes += "\r\n";
    }
    bytes += linesFrom(lastRowWritten);
    if (saveFile(path, bytes, &reason))
        return true;
    return fail(reason.isEmpty() ? QStringLiteral("Cannot write %1").arg(path) : reason);
}

} // namespace ostrand

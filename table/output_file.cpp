#include "output_file.h"

#include "platform/save_file.h"
#include "table/grid_layout.h"

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

} // namespace

QByteArray outputFileBytes(const ResultsGrid &grid, const GridState &state)
{
    const int lastRow = std::min(state.lastGridRow, grid.rows() - 1);
    const int inUse = int(std::count_if(state.channels.begin(), state.channels.end(),
                                        [](const Channel &channel) { return channel.inUse; }));
    QByteArray bytes;
    bytes.reserve(qsizetype(std::max(lastRow, 0)) * (kBytesPerStamp + inUse * kBytesPerValue));
    for (int row = kHeadingRow; row <= lastRow; ++row) {
        appendLatin1(bytes, grid.text(row, kStampCol));
        for (int k = 1; k <= kChannelCount; ++k) {
            if (state.channel(k).inUse) {
                bytes += ',';
                appendLatin1(bytes, grid.text(row, channelCol(k)));
            }
        }
        bytes += "\r\n";
    }
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

} // namespace ostrand

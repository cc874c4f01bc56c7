#include "cumulative_csv.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QHash>

namespace ostrand::collect {
namespace {

QList<QByteArray> linesOf(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

} // namespace

CsvAppend appendRows(const QByteArray &existing, const QByteArray &download, Overlap overlap)
{
    const QList<QByteArray> incoming = linesOf(download);
    const QList<QByteArray> held = linesOf(existing);
    CsvAppend result;
    if (incoming.isEmpty()) {
        result.bytes = existing;
        return result;
    }
    result.headingsChanged = !held.isEmpty() && held.first() != incoming.first();
    const bool fresh = held.isEmpty() || result.headingsChanged;
    result.bytes = fresh ? incoming.first() + "\r\n" : existing;
    // A file cut short by hand or by another tool still gets whole lines.
    if (!fresh && !existing.endsWith('\n'))
        result.bytes += "\r\n";
    QHash<QByteArray, int> heldRows;
    if (!fresh && overlap == Overlap::RowsEqualToHeldOnes) {
        for (qsizetype i = 1; i < held.size(); ++i)
            ++heldRows[held[i]];
    }
    for (qsizetype i = 1; i < incoming.size(); ++i) {
        const QByteArray &row = incoming[i];
        if (const auto it = heldRows.find(row); it != heldRows.end() && it.value() > 0) {
            --it.value();
            continue;
        }
        result.bytes += row + "\r\n";
        ++result.newRows;
    }
    return result;
}

QString archivedName(const QString &path, const QDateTime &when, int counter)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString count = counter > 1 ? u'-' + QString::number(counter) : QString();
    return info.dir().filePath(info.completeBaseName() + u'-'
                               + when.toString(QStringLiteral("yyyyMMdd-HHmmss")) + count + suffix);
}

} // namespace ostrand::collect

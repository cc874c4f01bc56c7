#include "collection_cursor.h"

#include <QCryptographicHash>
#include <QList>

namespace ostrand::collect {
namespace {

constexpr char kMagic[] = "ostrand-collect-cursor 1";

} // namespace

QByteArray logCursorText(const LogCursor &cursor)
{
    if (!cursor.isSet())
        return "none";
    return QByteArray::number(cursor.address.bank, 16).rightJustified(2, '0') + ' '
           + QByteArray::number(cursor.address.page, 16).rightJustified(2, '0') + ' '
           + QByteArray::number(cursor.address.offset, 16).rightJustified(2, '0') + ' ' + cursor.record.toHex();
}

std::optional<LogCursor> parseLogCursor(const QByteArray &text)
{
    if (text == "none")
        return LogCursor{};
    const QList<QByteArray> parts = text.split(' ');
    if (parts.size() != 4)
        return std::nullopt;
    int fields[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        fields[i] = parts[i].toInt(&ok, 16);
        if (!ok || parts[i].size() != 2)
            return std::nullopt;
    }
    const QByteArray record = QByteArray::fromHex(parts[3]);
    const LogCursor cursor{LogAddress{fields[0], fields[1], fields[2]}, record};
    if (record.size() != kLogRecordBytes || !isInLogArea(cursor.address))
        return std::nullopt;
    return cursor;
}

QString cursorFilePath(const QString &outputPath)
{
    return outputPath + QStringLiteral(".cursor");
}

QByteArray outputDigest(const QByteArray &outputBytes)
{
    return QCryptographicHash::hash(outputBytes, QCryptographicHash::Sha256).toHex();
}

QByteArray cursorStateText(const CursorState &state)
{
    return QByteArray(kMagic) + '\n' + "cursor " + logCursorText(state.cursor) + '\n' + "output-sha256 "
           + state.outputDigest + '\n' + "previous-cursor " + logCursorText(state.previousCursor) + '\n'
           + "previous-output-sha256 " + state.previousDigest + '\n';
}

std::optional<CursorState> parseCursorState(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 5 || lines[0] != kMagic)
        return std::nullopt;
    const auto valueOf = [&](int line, const char *key) -> std::optional<QByteArray> {
        const QByteArray prefix = QByteArray(key) + ' ';
        if (!lines[line].startsWith(prefix) && lines[line] != key)
            return std::nullopt;
        return lines[line].mid(prefix.size());
    };
    const auto cursor = valueOf(1, "cursor");
    const auto digest = valueOf(2, "output-sha256");
    const auto previous = valueOf(3, "previous-cursor");
    const auto previousDigest = valueOf(4, "previous-output-sha256");
    if (!cursor || !digest || !previous || !previousDigest)
        return std::nullopt;
    const auto parsedCursor = parseLogCursor(*cursor);
    const auto parsedPrevious = parseLogCursor(*previous);
    if (!parsedCursor || !parsedCursor->isSet() || !parsedPrevious)
        return std::nullopt;
    return CursorState{*parsedCursor, *digest, *parsedPrevious, *previousDigest};
}

bool cursorBelongsTo(const CursorState &state, const QByteArray &outputBytes)
{
    const QByteArray digest = outputDigest(outputBytes);
    return digest == state.outputDigest || digest == state.previousDigest;
}

std::optional<LogCursor> cursorForOutput(const CursorState &state, const QByteArray &outputBytes)
{
    const QByteArray digest = outputDigest(outputBytes);
    if (digest == state.outputDigest)
        return state.cursor;
    if (digest == state.previousDigest && state.previousCursor.isSet())
        return state.previousCursor;
    return std::nullopt;
}

} // namespace ostrand::collect

#pragma once

// Readers for the export formats written from their grammars (number fields only, as the exports
// write), not from the writers: a line that one of them refuses would be refused by a database.

#include <QByteArray>
#include <QList>
#include <cstring>
#include <map>
#include <optional>

namespace ostrand::testing {

// One point of the InfluxDB line protocol, its names and values unescaped.
struct LinePoint {
    QByteArray measurement;
    std::map<QByteArray, QByteArray> tags;
    std::map<QByteArray, QByteArray> fields; // numbers only: the exports write no string field
    QByteArray time;
};

namespace detail {

// Reads up to an unescaped byte of `stops`; a backslash escapes any byte of
// `escapable` (and a backslash), and stands for itself before anything else.
inline std::optional<QByteArray> lineToken(const QByteArray &line, qsizetype &at, const char *stops,
                                           const char *escapable)
{
    QByteArray token;
    while (at < line.size() && !std::strchr(stops, line[at])) {
        const char c = line[at++];
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return std::nullopt; // no control character anywhere in a line
        if (c == '\\' && at < line.size() && (line[at] == '\\' || std::strchr(escapable, line[at])))
            token += line[at++];
        else if (c == '\\' && at == line.size())
            return std::nullopt; // a backslash cannot end a line
        else
            token += c;
    }
    if (token.isEmpty())
        return std::nullopt;
    return token;
}

inline bool isLineNumber(const QByteArray &text)
{
    bool ok = false;
    text.toDouble(&ok);
    return ok && !text.contains("n") && !text.contains("N"); // no nan or inf
}

} // namespace detail

// The point of one line (without its line feed); nullopt when it breaks the grammar.
inline std::optional<LinePoint> readLinePoint(const QByteArray &line)
{
    using detail::lineToken;
    LinePoint point;
    qsizetype at = 0;
    const auto measurement = lineToken(line, at, ", ", ", ");
    if (!measurement)
        return std::nullopt;
    point.measurement = *measurement;
    while (at < line.size() && line[at] == ',') {
        const auto key = lineToken(line, ++at, "=, ", ",= ");
        if (!key || at == line.size() || line[at] != '=')
            return std::nullopt;
        const auto value = lineToken(line, ++at, "=, ", ",= ");
        if (!value || !point.tags.emplace(*key, *value).second)
            return std::nullopt;
    }
    if (at == line.size() || line[at] != ' ')
        return std::nullopt;
    do {
        const auto key = lineToken(line, ++at, "=, ", ",= ");
        if (!key || at == line.size() || line[at] != '=')
            return std::nullopt;
        const auto number = lineToken(line, ++at, ", ", "");
        if (!number || !detail::isLineNumber(*number))
            return std::nullopt;
        point.fields.emplace(*key, *number);
    } while (at < line.size() && line[at] == ',');
    if (at < line.size()) {
        if (line[at++] != ' ')
            return std::nullopt;
        point.time = line.mid(at);
        bool ok = false;
        point.time.toLongLong(&ok);
        if (!ok || point.time.startsWith('+') || point.time.contains(' '))
            return std::nullopt;
    }
    return point;
}

// The records of RFC 4180 text, CR LF between them; nullopt when a quote is misplaced.
inline std::optional<QList<QList<QByteArray>>> readCsvRecords(const QByteArray &text)
{
    QList<QList<QByteArray>> records;
    QList<QByteArray> record;
    QByteArray field;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (quoted) {
            if (c == '"' && at + 1 < text.size() && text[at + 1] == '"')
                field += text[++at];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            if (!field.isEmpty() || wasQuoted)
                return std::nullopt;
            quoted = wasQuoted = true;
        } else if (c == ',' || (c == '\r' && text.mid(at, 2) == "\r\n")) {
            record << field;
            field.clear();
            wasQuoted = false;
            if (c == '\r') {
                records << record;
                record.clear();
                ++at;
            }
        } else if (wasQuoted || c == '\r' || c == '\n') {
            return std::nullopt; // text after a closing quote, or a bare line break
        } else {
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !record.isEmpty())
        return std::nullopt; // every record ends with CR LF
    return records;
}

} // namespace ostrand::testing

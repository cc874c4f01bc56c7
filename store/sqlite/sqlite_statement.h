#pragma once

#include "store/time_text.h"

#include <sqlite3.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace ostrand::collect {

// A prepared statement, finalized when it goes.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) { status_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return status_ == SQLITE_OK; }
    void reset() { sqlite3_reset(stmt_); sqlite3_clear_bindings(stmt_); }
    void bind(int i, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(stmt_, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    // Bytes that outlive the statement's next step, bound without a copy.
    void bindStatic(int i, const QByteArray &utf8)
    {
        sqlite3_bind_text(stmt_, i, utf8.constData(), int(utf8.size()), SQLITE_STATIC);
    }
    void bindOrNull(int i, const QString &text)
    {
        if (text.isEmpty())
            sqlite3_bind_null(stmt_, i);
        else
            bind(i, text);
    }
    void bind(int i, int value) { sqlite3_bind_int(stmt_, i, value); }
    void bind(int i, double value) { sqlite3_bind_double(stmt_, i, value); }
    void bindInt64(int i, qint64 value) { sqlite3_bind_int64(stmt_, i, value); }
    void bind(int i, const std::optional<QDateTime> &utc)
    {
        if (utc)
            bind(i, utcText(*utc));
        else
            sqlite3_bind_null(stmt_, i);
    }
    int step() { return sqlite3_step(stmt_); }
    QString text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column)),
                                 sqlite3_column_bytes(stmt_, column));
    }
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    int integer(int column) const { return sqlite3_column_int(stmt_, column); }
    qint64 integer64(int column) const { return sqlite3_column_int64(stmt_, column); }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }
    std::optional<QDateTime> time(int column) const
    {
        return isNull(column) ? std::nullopt : std::optional<QDateTime>(utcFromText(text(column)));
    }

private:
    sqlite3_stmt *stmt_ = nullptr;
    int status_ = SQLITE_ERROR;
};

// The UTF-8 of the last text asked for, made again only when the text is another.
class Utf8Cache {
public:
    const QByteArray &of(const QString &text)
    {
        if (text != last_) {
            last_ = text;
            utf8_ = text.toUtf8();
        }
        return utf8_;
    }

private:
    QString last_;
    QByteArray utf8_;
};

} // namespace ostrand::collect

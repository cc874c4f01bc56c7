#include "csv_rows.h"

namespace ostrand::report {

std::vector<QStringList> csvRows(const QByteArray &text)
{
    const QString all = QString::fromUtf8(text);
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    bool rowStarted = false;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const QChar c = all.at(i);
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < all.size() && all.at(i + 1) == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
            continue;
        }
        if (c == u'"') {
            quoted = true;
            rowStarted = true;
        } else if (c == u',') {
            row << field;
            field.clear();
            rowStarted = true;
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < all.size() && all.at(i + 1) == u'\n')
                ++i;
            if (rowStarted || !field.isEmpty()) {
                row << field;
                rows.push_back(row);
            }
            row.clear();
            field.clear();
            rowStarted = false;
        } else {
            field += c;
            rowStarted = true;
        }
    }
    if (rowStarted || !field.isEmpty()) {
        row << field;
        rows.push_back(row);
    }
    return rows;
}

} // namespace ostrand::report

#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable gtest failure messages for Qt's string types.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << "hex " << bytes.toHex(' ').toStdString();
}

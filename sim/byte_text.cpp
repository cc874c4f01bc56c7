#include "byte_text.h"

#include <cctype>

namespace ostrand::sim {

bool parseByteText(const QString &text, int maxBytes, QByteArray *bytes, bool *isHex,
                   QString *error)
{
    QByteArray out;
    const bool hex = text.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive);
    if (hex) {
        const QByteArray digits = text.mid(4).remove(QLatin1Char(' ')).toLatin1();
        for (const char c : digits) {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                *error = QStringLiteral("\"%1\" is not hexadecimal").arg(text);
                return false;
            }
        }
        if (digits.size() % 2 != 0) {
            *error =
                QStringLiteral("\"%1\" is not whole bytes (an odd number of digits)").arg(text);
            return false;
        }
        out = QByteArray::fromHex(digits);
    } else {
        out = text.toUtf8();
    }
    if (out.isEmpty()) {
        *error = QStringLiteral("it is empty");
        return false;
    }
    if (out.size() > maxBytes) {
        *error = QStringLiteral("\"%1\" is %2 bytes; at most %3 are allowed")
                     .arg(text)
                     .arg(out.size())
                     .arg(maxBytes);
        return false;
    }
    *bytes = out;
    *isHex = hex;
    return true;
}

QString printableBytes(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (c <= ' ' || c > '~')
            return QStringLiteral("hex:") + QString::fromLatin1(bytes.toHex());
    }
    return QString::fromLatin1(bytes);
}

} // namespace ostrand::sim

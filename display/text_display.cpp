#include "text_display.h"

namespace ostrand {

QByteArray cleanDisplayText(const QByteArray &raw)
{
    QByteArray clean = raw;
    for (char &byte : clean) {
        const auto value = static_cast<unsigned char>(byte);
        if (value <= 10 || value >= 254)
            byte = kUnshownByte;
    }
    return clean;
}

QString displayLineText(const QByteArray &raw)
{
    return QString::fromLatin1(cleanDisplayText(raw));
}

} // namespace ostrand

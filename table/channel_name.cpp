#include "channel_name.h"

namespace ostrand {
namespace {

// A label's unwritten tail is erased memory, which reads as 0xFF; 0xFE goes
// with it so that only the characters written into the label remain.
bool isFiller(unsigned code)
{
    return code == 254 || code == 255;
}

} // namespace

QString cleanChannelName(const QByteArray &raw)
{
    QString name;
    name.reserve(raw.size());
    for (const char byte : raw) {
        const auto code = static_cast<unsigned char>(byte);
        if (!isFiller(code))
            name.append(QChar(char16_t(code)));
    }
    return name;
}

QString cleanChannelName(const QString &raw)
{
    QString name;
    name.reserve(raw.size());
    for (const QChar c : raw) {
        if (!isFiller(c.unicode()))
            name.append(c);
    }
    return name;
}

} // namespace ostrand

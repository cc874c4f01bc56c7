#include "log_address.h"

#include <QStringList>

namespace ostrand::sim {

std::uint32_t linearValue(const LogAddress &address)
{
    return std::uint32_t(address.bank) << 16 | std::uint32_t(address.page) << 8 | address.offset;
}

bool isInLog(const LogAddress &address)
{
    return address.bank >= kLogFirstBank && address.bank <= kLogLastBank &&
           address.page >= kLogFirstPage && address.page < kLogFirstPage + kLogPagesPerBank;
}

int logOffsetOf(const LogAddress &address)
{
    if (!isInLog(address))
        return -1;
    return (address.bank - kLogFirstBank) * kBankLogBytes +
           (address.page - kLogFirstPage) * kPageBytes + address.offset;
}

LogAddress logAddressAt(int offset)
{
    offset %= kLogBytes;
    if (offset < 0)
        offset += kLogBytes;
    LogAddress a;
    a.bank = static_cast<std::uint8_t>(kLogFirstBank + offset / kBankLogBytes);
    a.page = static_cast<std::uint8_t>(kLogFirstPage + (offset % kBankLogBytes) / kPageBytes);
    a.offset = static_cast<std::uint8_t>(offset % kPageBytes);
    return a;
}

LogAddress advanceInLog(const LogAddress &address, int bytes)
{
    return logAddressAt(logOffsetOf(address) + bytes);
}

QString toText(const LogAddress &address)
{
    return QStringLiteral("%1:%2:%3")
        .arg(address.bank, 2, 16, QLatin1Char('0'))
        .arg(address.page, 2, 16, QLatin1Char('0'))
        .arg(address.offset, 2, 16, QLatin1Char('0'))
        .toUpper();
}

bool parseLogAddress(const QString &text, LogAddress *address)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return false;
    std::uint8_t bytes[3] = {};
    for (int i = 0; i < 3; ++i) {
        QString part = parts[i].trimmed();
        if (part.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            part = part.mid(2);
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || value > 0xFF)
            return false;
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    *address = LogAddress{bytes[0], bytes[1], bytes[2]};
    return true;
}

} // namespace ostrand::sim

#include "port_discovery.h"

#include "platform/com_port_names.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

namespace ostrand {
namespace {

QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

bool sameAdapter(const SerialDevice &a, const SerialDevice &b)
{
    return a.systemLocation == b.systemLocation && a.serialNumber == b.serialNumber;
}

// "FT232R USB UART, serial A12345": enough to tell two adapters apart.
QString shortIdentity(const SerialDevice &device)
{
    QStringList parts;
    if (!device.description.isEmpty())
        parts << device.description;
    if (!device.serialNumber.isEmpty())
        parts << QStringLiteral("serial %1").arg(device.serialNumber);
    return parts.join(QStringLiteral(", "));
}

QString namesOf(const QList<SerialDevice> &devices)
{
    QStringList names;
    for (const SerialDevice &device : devices) {
        const QString identity = shortIdentity(device);
        names << (identity.isEmpty() ? device.portName
                                     : QStringLiteral("%1 (%2)").arg(device.portName, identity));
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

bool SerialDevice::operator==(const SerialDevice &o) const
{
    return portName == o.portName && systemLocation == o.systemLocation &&
           description == o.description && manufacturer == o.manufacturer &&
           serialNumber == o.serialNumber && vendorId == o.vendorId && productId == o.productId &&
           stablePath == o.stablePath;
}

QList<SerialDevice> systemSerialDevices()
{
    QList<SerialDevice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialDevice device;
        device.portName = info.portName();
        device.systemLocation = info.systemLocation();
        device.description = info.description();
        device.manufacturer = info.manufacturer();
        device.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            device.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            device.productId = info.productIdentifier();
        device.stablePath = stableNameIn(QLatin1String(kSerialByIdDir), device.systemLocation);
        devices << device;
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice &a, const SerialDevice &b) { return a.portName < b.portName; });
    return devices;
}

QString stableNameIn(const QString &byIdDir, const QString &devicePath)
{
    const QString device = QFileInfo(devicePath).canonicalFilePath();
    if (device.isEmpty())
        return QString();
    const QDir dir(byIdDir);
    const QStringList entries =
        dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &entry : entries) {
        const QString path = dir.filePath(entry);
        if (QFileInfo(path).isSymLink() && QFileInfo(path).canonicalFilePath() == device)
            return path;
    }
    return QString();
}

QString linkTargetFor(const SerialDevice &device)
{
    return device.stablePath.isEmpty() ? device.systemLocation : device.stablePath;
}

QString deviceSummary(const SerialDevice &device)
{
    QStringList parts;
    if (!device.description.isEmpty())
        parts << device.description;
    if (!device.manufacturer.isEmpty() && device.manufacturer != device.description)
        parts << device.manufacturer;
    if (!device.serialNumber.isEmpty())
        parts << QStringLiteral("serial %1").arg(device.serialNumber);
    if (device.vendorId >= 0 && device.productId >= 0)
        parts << QStringLiteral("%1:%2")
                     .arg(device.vendorId, 4, 16, QLatin1Char('0'))
                     .arg(device.productId, 4, 16, QLatin1Char('0'));
    if (parts.isEmpty())
        return device.portName;
    return QStringLiteral("%1 — %2").arg(device.portName, parts.join(QStringLiteral(", ")));
}

int deviceForComPort(const QList<SerialDevice> &devices, const QStringList &linkDirs, int portNumber)
{
    const QString resolved = resolveComDevice(linkDirs, portNumber);
    if (resolved.isEmpty())
        return -1;
    const QString target = canonical(resolved);
    for (int i = 0; i < devices.size(); ++i) {
        if (canonical(devices[i].systemLocation) == target)
            return i;
    }
    return -1;
}

QString comPortLine(const QList<SerialDevice> &devices, const QStringList &linkDirs, int portNumber)
{
    QString line = describeComDevice(linkDirs, portNumber);
    const int index = deviceForComPort(devices, linkDirs, portNumber);
    if (index >= 0) {
        const QString identity = shortIdentity(devices[index]);
        if (!identity.isEmpty())
            line += QStringLiteral(" (%1)").arg(identity);
    } else if (!line.endsWith(QLatin1String("(missing)"))) {
        const QString device = resolveComDevice(linkDirs, portNumber);
        if (!device.isEmpty() && !QFileInfo::exists(device))
            line += QStringLiteral(" (not present)");
    }
    return line;
}

DeviceChanges compareDevices(const QList<SerialDevice> &before, const QList<SerialDevice> &after)
{
    DeviceChanges changes;
    for (const SerialDevice &device : after) {
        if (std::none_of(before.begin(), before.end(),
                         [&](const SerialDevice &d) { return sameAdapter(d, device); }))
            changes.added << device;
    }
    for (const SerialDevice &device : before) {
        if (std::none_of(after.begin(), after.end(),
                         [&](const SerialDevice &d) { return sameAdapter(d, device); }))
            changes.removed << device;
    }
    return changes;
}

QString describeChanges(const DeviceChanges &changes)
{
    QStringList sentences;
    if (!changes.added.isEmpty())
        sentences << QStringLiteral("Plugged in: %1.").arg(namesOf(changes.added));
    if (!changes.removed.isEmpty())
        sentences << QStringLiteral("Unplugged: %1.").arg(namesOf(changes.removed));
    return sentences.join(QLatin1Char(' '));
}

} // namespace ostrand

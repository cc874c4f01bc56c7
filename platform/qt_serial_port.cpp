#include "qt_serial_port.h"

#include "com_port_names.h"
#include "port_holder.h"
#include "system_reason.h"
#include "port_permission.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ostrand {

QtSerialPort::QtSerialPort(const QStringList &linkDirs) : linkDirs_(linkDirs)
{
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

QtSerialPort::~QtSerialPort()
{
    // The port emits errorOccurred while closing; it must not reach a half-destroyed this.
    QObject::disconnect(&port_, nullptr, &port_, nullptr);
    unlockDevice();
}

QString QtSerialPort::portLabel(int portNumber, const QString &device) const
{
    if (!deviceOverride_.isEmpty())
        return device;
    return QStringLiteral("COM%1 (%2)").arg(portNumber).arg(device);
}

bool QtSerialPort::lockDevice(const QString &device, int portNumber)
{
    const auto refuse = [&](const QString &why) {
        error_ = QStringLiteral("Cannot open %1: %2").arg(portLabel(portNumber, device), why);
        return false;
    };
    // A descriptor of our own carries the lock, so it is in place before
    // QSerialPort touches the line and is not lost if the port closes itself.
    const QByteArray path = QFile::encodeName(device);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A tty put in exclusive mode by another program refuses further opens.
        // A missing device QSerialPort meets as well, and its report of it is the
        // one operators know; for a refused one they need to know what to do.
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return refuse(QStringLiteral("%1. %2").arg(systemReason(error),
                                                       permissionAdvice(device)));
        return error == EBUSY ? refuse(QStringLiteral("port in use by another program")) : true;
    }
    // A file or /dev/null opens like any device, and only the line settings
    // would fail later with a reason that names no serial port.
    if (!::isatty(fd)) {
        const int error = errno;
        ::close(fd);
        return refuse(QStringLiteral("not a serial device (%1)").arg(systemReason(error)));
    }
    // flock() binds root as well, which the tty's exclusive mode does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(error == EWOULDBLOCK ? portInUseReason(device) : systemReason(error));
    }
    lockFd_ = fd;
    return true;
}

void QtSerialPort::unlockDevice()
{
    if (lockFd_ >= 0) {
        ::close(lockFd_); // closing drops the flock
        lockFd_ = -1;
    }
}

QString QtSerialPort::deviceFor(int portNumber) const
{
    if (holdingDevice_ && !heldDevice_.isEmpty())
        return heldDevice_;
    const QString device =
        deviceOverride_.isEmpty() ? resolveComDevice(linkDirs_, portNumber) : deviceOverride_;
    // QSerialPort's lock file is keyed on the name it is given: COM1 and the
    // device it links to would get two locks for one line.
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

bool QtSerialPort::leadsElsewhere(int portNumber) const
{
    return port_.isOpen() && deviceFor(portNumber) != device_;
}

void QtSerialPort::holdDevice(bool hold)
{
    holdingDevice_ = hold;
    heldDevice_ = hold && port_.isOpen() ? device_ : QString();
}

bool QtSerialPort::open(int portNumber, const QString &baudText)
{
    if (port_.isOpen())
        return true;
    // A reopen's own reason replaces that of the line lost before it.
    lostReason_.clear();
    const QString device = deviceFor(portNumber);
    if (device.isEmpty()) {
        const QString gone = vanishedComLink(linkDirs_, portNumber);
        error_ = gone.isEmpty() ? QStringLiteral("No COM port chosen") : vanishedComLinkText(portNumber, gone);
        return false;
    }
    bool numeric = false;
    const int baud = baudText.trimmed().toInt(&numeric);
    if (!numeric || baud <= 0) {
        error_ = QStringLiteral("Baud rate \"%1\" is not a positive whole number").arg(baudText);
        return false;
    }

    port_.setPortName(device);
    device_ = device;
    // Flow control is left as the port has it; this program never chooses one.
    if (!port_.setBaudRate(baud) || !port_.setDataBits(QSerialPort::Data8)
        || !port_.setParity(QSerialPort::NoParity) || !port_.setStopBits(QSerialPort::OneStop)) {
        error_ = QStringLiteral("%1: %2").arg(portLabel(portNumber, device), port_.errorString());
        return false;
    }
    unlockDevice();
    if (!lockDevice(device, portNumber))
        return false;
    if (!port_.open(QIODevice::ReadWrite)) {
        error_ = QStringLiteral("Cannot open %1: %2").arg(portLabel(portNumber, device), port_.errorString());
        unlockDevice();
        return false;
    }
    error_.clear();
    openedPortNumber_ = portNumber;
    if (holdingDevice_)
        heldDevice_ = device;
    return true;
}

bool QtSerialPort::isOpen() const
{
    return port_.isOpen();
}

void QtSerialPort::close()
{
    if (port_.isOpen())
        port_.close();
    unlockDevice();
}

void QtSerialPort::discardInput()
{
    if (!port_.isOpen())
        return;
    port_.readAll();
    port_.clear(QSerialPort::Input);
}

void QtSerialPort::discardOutput()
{
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

bool QtSerialPort::send(const QByteArray &bytes)
{
    if (!port_.isOpen()) {
        if (error_.isEmpty())
            error_ = QStringLiteral("Port is not open");
        return false;
    }
    if (port_.write(bytes) != bytes.size()) {
        error_ = port_.errorString();
        return false;
    }
    // Hand the bytes to the driver now rather than at the next event, so that a
    // reply timeout counts from when the request really left.
    port_.flush();
    return port_.isOpen();
}

int QtSerialPort::receivedCount()
{
    return port_.isOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
}

QByteArray QtSerialPort::read(int count)
{
    if (!port_.isOpen() || count <= 0)
        return QByteArray();
    return port_.read(count);
}

QString QtSerialPort::errorString() const
{
    return error_;
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError)
        return;
    error_ = QStringLiteral("%1: %2").arg(port_.portName(), port_.errorString());
    // A pulled USB adapter hangs the tty up: it then reads as ready forever and
    // every read fails, which would spin the event loop at full load. Qt calls
    // that a resource error or, when the read just returns nothing, a read error;
    // a write to it fails with a write error.
    // Closing makes the link see a silent meter and lets a later open() find the
    // adapter once it is back.
    const bool deviceGone = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
                            || error == QSerialPort::WriteError;
    if (deviceGone && port_.isOpen()) {
        lostReason_ = port_.errorString();
        error_ = QStringLiteral("lost the line to %1: the device went away (%2)")
                     .arg(portLabel(openedPortNumber_, device_), lostReason_);
        port_.close();
        unlockDevice();
    }
}

} // namespace ostrand

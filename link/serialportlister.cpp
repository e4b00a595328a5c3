#include "serialportlister.h"

#include <QFileInfo>
#include <QSerialPortInfo>

bool isSamePort(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    const QString file = QFileInfo(PortAccess::pathOf(a)).canonicalFilePath();
    return !file.isEmpty() && file == QFileInfo(PortAccess::pathOf(b)).canonicalFilePath();
}

std::optional<SerialPortDescription> SerialPortLister::portReachedBy(const QString &portName) const
{
    for (const SerialPortDescription &port : availablePorts()) {
        if (isSamePort(port.portName, portName))
            return port;
    }
    return std::nullopt;
}

QList<SerialPortDescription> SerialPortLister::portsNamed(const QString &portName) const
{
    QList<SerialPortDescription> named;
    for (const SerialPortDescription &port : availablePorts()) {
        if (port.portName == portName)
            named.append(port);
    }
    return named;
}

bool SerialPortLister::isPresent(const QString &portName) const
{
#ifdef Q_OS_WIN
    return portReachedBy(portName).has_value(); // no device files: the system's list tells
#else
    return QFileInfo::exists(PortAccess::pathOf(portName));
#endif
}

QList<SerialPortDescription> SystemSerialPortLister::availablePorts() const
{
    QList<SerialPortDescription> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.portName(), info.manufacturer(), info.vendorIdentifier()});
    return ports;
}

ExtraPortLister::ExtraPortLister(SharedPortLister base, SerialPortDescription extra)
    : m_base(std::move(base))
    , m_extra(std::move(extra))
{
}

QList<SerialPortDescription> ExtraPortLister::availablePorts() const
{
    return (m_base ? m_base->availablePorts() : QList<SerialPortDescription>()) + extraPorts();
}

QList<SerialPortDescription> ExtraPortLister::portsNamed(const QString &portName) const
{
    if (portName == m_extra.portName)
        return extraPorts();
    return m_base ? m_base->portsNamed(portName) : QList<SerialPortDescription>();
}

QList<SerialPortDescription> ExtraPortLister::extraPorts() const
{
    return isPresent(m_extra.portName) ? QList<SerialPortDescription>{m_extra} : QList<SerialPortDescription>();
}

bool ExtraPortLister::isPresent(const QString &portName) const
{
    return m_base ? m_base->isPresent(portName) : SerialPortLister::isPresent(portName);
}

PortAccess ExtraPortLister::accessOf(const QString &portName) const
{
    return m_base ? m_base->accessOf(portName) : PortAccess::of(portName);
}

RecentPortLister::RecentPortLister(SharedPortLister base, int lifetimeMs)
    : m_base(std::move(base))
    , m_lifetimeMs(lifetimeMs)
{
}

QList<SerialPortDescription> RecentPortLister::availablePorts() const
{
    QMutexLocker lock(&m_mutex);
    if (m_fresh.hasExpired()) {
        m_ports = m_base->availablePorts();
        m_fresh.setRemainingTime(m_lifetimeMs);
    }
    return m_ports;
}

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
    QList<SerialPortDescription> ports = m_base ? m_base->availablePorts()
                                                : QList<SerialPortDescription>();
    if (QFileInfo::exists(m_extra.portName))
        ports.append(m_extra);
    return ports;
}

PortAccess ExtraPortLister::accessOf(const QString &portName) const
{
    return m_base ? m_base->accessOf(portName) : PortAccess::of(portName);
}

#include "serialportlister.h"

#include <QFileInfo>
#include <QSerialPortInfo>

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

#include "portfinder.h"

#include "logging.h"

std::atomic<int> m_upgrade_device_vid{0};

const char PortFinder::DeviceManufacturer[] = "rurudir";

PortFinder::PortFinder(SharedPortLister ports)
    : m_ports(std::move(ports))
{
}

bool PortFinder::isRecognisedVendor(int vid)
{
    return vid > RecognisedVidAbove && vid <= RecognisedVidLast;
}

bool PortFinder::isRecognisedPort(const SerialPortDescription &port)
{
    return port.manufacturer == QLatin1String(DeviceManufacturer) || isRecognisedVendor(port.vendorIdentifier);
}

QString PortFinder::findPort(bool anyDevice)
{
    const int upgradeVid = m_upgrade_device_vid.load();
    LOG_WARNING << "################# m_upgrade_device_vid " << upgradeVid << ", isfirst" << anyDevice;
    // A dedicated finder looks at its device's port alone.
    const bool dedicated = !m_dedication.portName.isEmpty();
    const auto ports = dedicated ? m_ports->portsNamed(m_dedication.portName) : m_ports->availablePorts();
    for (const SerialPortDescription &port : ports) {
        if (!matches(port, anyDevice, upgradeVid))
            continue;
        LOG_INFO << "name: " << port.portName << "vendorIdentifier: " << port.vendorIdentifier;
        QMutexLocker lock(&m_portNameMutex);
        m_portName = port.portName;
        return port.portName;
    }
    LOG_WARNING << "not search result, get usb vid " << m_vid.load();
    return QString();
}

void PortFinder::dedicateTo(const Dedication &device)
{
    m_dedication = device;
}

void PortFinder::setUpgradeTarget(int vid)
{
    if (m_dedication.portName.isEmpty())
        m_upgrade_device_vid.store(vid);
}

bool PortFinder::matches(const SerialPortDescription &port, bool anyDevice, int upgradeVid) const
{
    if (anyDevice)
        return isRecognisedPort(port);
    if (!m_dedication.portName.isEmpty())
        return port.vendorIdentifier == m_dedication.vendorIdentifier;
    return upgradeVid != 0 && upgradeVid == port.vendorIdentifier;
}

quint16 PortFinder::findDevice()
{
    const auto ports = m_ports->availablePorts();
    for (const SerialPortDescription &port : ports) {
        if (port.manufacturer != QLatin1String(DeviceManufacturer)) {
            if (!isRecognisedVendor(port.vendorIdentifier))
                continue;
            const int known = m_vid.load();
            if (known != 0)
                return quint16(known); // the device already known keeps its identifier
        }
        m_vid.store(port.vendorIdentifier);
        return port.vendorIdentifier;
    }
    return 0;
}

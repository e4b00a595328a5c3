#ifndef PORTFINDER_H
#define PORTFINDER_H

#include "serialportlister.h"

#include <QMutex>
#include <QString>
#include <atomic>

// Vendor identifier of the device being upgraded (0 when none): set through
// the link when an upgrade starts, read by the port search of every link
// not dedicated to one device to find the device again after its reboot.
extern std::atomic<int> m_upgrade_device_vid;

// Picks the device's port out of the system's serial ports and remembers the
// vendor identifier of the device last seen. Any thread.
//
// A finder dedicated to one device (the command, which upgrades several at
// once) only ever finds that device's port: the port it was named by, while
// it lists a recognised device, and after a reboot while it lists the
// device's vendor identifier. It looks at that port alone, never at the
// system's other ports. The process-wide m_upgrade_device_vid is then not
// read, so one link never takes another device's port.
class PortFinder
{
public:
    struct Dedication
    {
        QString portName;
        quint16 vendorIdentifier = 0;
    };

    static constexpr int RecognisedVidAbove = 7530;    // vendor identifiers 7531 ..
    static constexpr int RecognisedVidLast = 7543;     // .. 7543 are devices
    static const char DeviceManufacturer[];

    explicit PortFinder(SharedPortLister ports);

    static bool isRecognisedVendor(int vid);
    // A port of a device the program recognises: by manufacturer or vendor identifier.
    static bool isRecognisedPort(const SerialPortDescription &port);

    // The first port of a recognised device (`anyDevice`), or else of the
    // device being upgraded; empty when none is listed.
    QString findPort(bool anyDevice);
    // The vendor identifier of a present device, or 0.
    quint16 findDevice();

    int knownVendor() const { return m_vid.load(); }
    void setKnownVendor(int vid) { m_vid.store(vid); }

    // Before the first search; the finder keeps it for its lifetime.
    void dedicateTo(const Dedication &device);
    // Names the device being upgraded (0: none) in m_upgrade_device_vid; a
    // dedicated finder knows its device already and leaves it alone.
    void setUpgradeTarget(int vid);

    // Whether the user may open the port (see SerialPortLister).
    PortAccess accessOf(const QString &portName) const { return m_ports->accessOf(portName); }

private:
    bool matches(const SerialPortDescription &port, bool anyDevice, int upgradeVid) const;

    SharedPortLister m_ports;
    std::atomic<int> m_vid{0};
    QMutex m_portNameMutex;
    QString m_portName; // the port the last successful search chose
    Dedication m_dedication; // no port name: not dedicated
};

#endif // PORTFINDER_H

#ifndef PORTFINDER_H
#define PORTFINDER_H

#include "serialportlister.h"

#include <QMutex>
#include <QString>
#include <atomic>

// Vendor identifier of the device being upgraded (0 when none): set by the
// upgrade page when an upgrade starts, read by the port search to find the
// device again after its reboot.
extern std::atomic<int> m_upgrade_device_vid;

// Picks the device's port out of the system's serial ports and remembers the
// vendor identifier of the device last seen. Any thread.
class PortFinder
{
public:
    static constexpr int RecognisedVidAbove = 7530;    // vendor identifiers 7531 ..
    static constexpr int RecognisedVidLast = 7543;     // .. 7543 are devices
    static const char DeviceManufacturer[];

    explicit PortFinder(SharedPortLister ports);

    static bool isRecognisedVendor(int vid);

    // The first port of a recognised device (`anyDevice`), or else of the
    // device being upgraded; empty when none is listed.
    QString findPort(bool anyDevice);
    // The vendor identifier of a present device, or 0.
    quint16 findDevice();

    int knownVendor() const { return m_vid.load(); }
    void setKnownVendor(int vid) { m_vid.store(vid); }

private:
    SharedPortLister m_ports;
    std::atomic<int> m_vid{0};
    QMutex m_portNameMutex;
    QString m_portName; // the port the last successful search chose
};

#endif // PORTFINDER_H

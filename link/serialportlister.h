#ifndef SERIALPORTLISTER_H
#define SERIALPORTLISTER_H

#include "portaccess.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QString>
#include <memory>
#include <optional>

// What the program needs to know of one serial port to recognise a device.
struct SerialPortDescription
{
    QString portName;
    QString manufacturer;
    quint16 vendorIdentifier = 0;
};

// Whether two port names reach one port: the same name, or paths to the same
// device file (a symbolic link and its target, "ttyACM0" and "/dev/ttyACM0").
bool isSamePort(const QString &a, const QString &b);

// The list of serial ports present now. The one place the program asks the
// system for its ports, so tests and the simulator can stand in for it.
class SerialPortLister
{
public:
    virtual ~SerialPortLister() = default;
    virtual QList<SerialPortDescription> availablePorts() const = 0;
    // The listed ports named exactly `portName`, in list order. A lister that
    // can look at that one port alone does so instead of listing them all.
    virtual QList<SerialPortDescription> portsNamed(const QString &portName) const;
    // Whether the user may open a listed port; asked when an open failed.
    virtual PortAccess accessOf(const QString &portName) const { return PortAccess::of(portName); }
    // Whether the port's device file ("/dev/ttyACM0" for "ttyACM0") is there
    // now: a look at that one file, never a listing of every port (but on
    // Windows, which has no device files).
    virtual bool isPresent(const QString &portName) const;
    // The listed port `portName` reaches, with the identity listed for it.
    std::optional<SerialPortDescription> portReachedBy(const QString &portName) const;
};

using SharedPortLister = std::shared_ptr<const SerialPortLister>;

// The system's ports, as the serial-port module reports them.
class SystemSerialPortLister : public SerialPortLister
{
public:
    QList<SerialPortDescription> availablePorts() const override;
};

// Another lister's ports plus one port given by path, listed with a chosen
// identity while the path exists (it may be a symbolic link). Serves devices
// that enumerate without their USB identity, and the device simulator.
class ExtraPortLister : public SerialPortLister
{
public:
    ExtraPortLister(SharedPortLister base, SerialPortDescription extra);
    QList<SerialPortDescription> availablePorts() const override;
    // The port given by path is what it was said to be: the other lister is
    // not asked about it.
    QList<SerialPortDescription> portsNamed(const QString &portName) const override;
    PortAccess accessOf(const QString &portName) const override;
    bool isPresent(const QString &portName) const override;

private:
    // The port given by path, while the path exists.
    QList<SerialPortDescription> extraPorts() const;

    SharedPortLister m_base;
    SerialPortDescription m_extra;
};

// Another lister's ports, listed once for every caller within `lifetimeMs`
// of the last listing. A listing of the system's ports opens thousands of
// files; the sessions of one process that look together share one. A caller
// that comes while a listing is made waits for it.
class RecentPortLister : public SerialPortLister
{
public:
    static constexpr int DefaultLifetimeMs = 250; // well within a wait's retry for a port

    explicit RecentPortLister(SharedPortLister base, int lifetimeMs = DefaultLifetimeMs);
    QList<SerialPortDescription> availablePorts() const override;
    PortAccess accessOf(const QString &portName) const override { return m_base->accessOf(portName); }
    bool isPresent(const QString &portName) const override { return m_base->isPresent(portName); }

private:
    SharedPortLister m_base;
    int m_lifetimeMs;
    mutable QMutex m_mutex; // guards the listing below, and is held while it is made
    mutable QDeadlineTimer m_fresh; // expired: list again
    mutable QList<SerialPortDescription> m_ports;
};

#endif // SERIALPORTLISTER_H

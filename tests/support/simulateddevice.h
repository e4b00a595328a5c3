#ifndef SIMULATEDDEVICE_H
#define SIMULATEDDEVICE_H

#include "devicesimulator.h"
#include "simulatorportlister.h"
#include "usbvirtualserial.h"

#include <QTemporaryDir>
#include <functional>
#include <memory>

// First transmissions only: a late acknowledgement on a loaded machine makes
// the link send a request again, under the same sequence number.
inline QList<SimFrameRecord> firstTransmissions(const QList<SimFrameRecord> &frames)
{
    QList<SimFrameRecord> out;
    for (const SimFrameRecord &frame : frames)
        if (frame.retry == 0)
            out.append(frame);
    return out;
}

// Runs `act` on the simulator's thread each time the device restarts by
// itself after reporting its upgrade done, as the port goes.
inline void onSelfRestart(DeviceSimulator &sim, std::function<void()> act)
{
    QObject::connect(&sim, &DeviceSimulator::rebooting, &sim, [act](const QString &mode) {
        if (mode == QLatin1String("after-upgrade"))
            act();
    }, Qt::DirectConnection);
}

// Runs `act` on the simulator's thread when the device receives its n-th
// frame of `command`, before it answers.
inline void onRequest(DeviceSimulator &sim, quint32 command, int n, std::function<void()> act)
{
    auto seen = std::make_shared<int>(0);
    QObject::connect(&sim, &DeviceSimulator::frameReceived, &sim, [=](const SimFrameRecord &frame) {
        if (frame.command == command && ++*seen == n)
            act();
    }, Qt::DirectConnection);
}

// A simulated device on a pty, listed under its identity the way
// `--port PATH --vid N` lists it, and the program's link to it.
class SimulatedDevice
{
public:
    explicit SimulatedDevice(const DeviceIdentity &identity = DeviceIdentity())
        : sim(identity)
    {
    }

    // Starts the device and creates the link; false if the pty failed.
    bool start()
    {
        if (!dir.isValid() || !sim.start(dir.filePath(QStringLiteral("device"))))
            return false;
        ports = std::make_shared<SimulatorPortLister>(&sim);
        link.reset(new UsbVirtualSerial(ports));
        return true;
    }

    // Finds and opens the device's port and starts reception, as Connect does.
    bool open()
    {
        const QString name = link->searchUsbVirtualSerialPort(true);
        if (name.isEmpty() || !link->openSerialPort(name))
            return false;
        link->startSerialRecv();
        return true;
    }

    // Commands of the frames the device received, in order.
    QList<quint32> commands() const
    {
        QList<quint32> out;
        for (const SimFrameRecord &frame : sim.frames())
            out.append(frame.command);
        return out;
    }

    QList<SimFrameRecord> framesOf(quint32 command) const
    {
        QList<SimFrameRecord> out;
        for (const SimFrameRecord &frame : sim.frames())
            if (frame.command == command)
                out.append(frame);
        return out;
    }

    // One frame per request of `command`, however often it was sent.
    QList<SimFrameRecord> requestsOf(quint32 command) const { return firstTransmissions(framesOf(command)); }

    // The files (or a package's parts) the device received, in order.
    QList<QByteArray> received() const
    {
        QList<QByteArray> out;
        for (const SimReceivedFile &file : sim.receivedFiles())
            out.append(file.data);
        return out;
    }
    // The device's port as `--port PATH --vid N` names it.
    SerialPortDescription port() const { return {sim.linkPath(), QString(), sim.identity().vendorId}; }
    QStringList portArguments() const
    {
        return {QStringLiteral("--port"), sim.linkPath(), QStringLiteral("--vid"),
                QString::number(sim.identity().vendorId)};
    }

    QTemporaryDir dir;
    DeviceSimulator sim;
    std::shared_ptr<SimulatorPortLister> ports;
    std::unique_ptr<UsbVirtualSerial> link;
};

#endif // SIMULATEDDEVICE_H

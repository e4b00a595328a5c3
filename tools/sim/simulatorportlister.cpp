#include "simulatorportlister.h"

#include "devicesimulator.h"

QList<SerialPortDescription> SimulatorPortLister::availablePorts() const
{
    const DeviceIdentity id = m_sim->identity();
    return ExtraPortLister(nullptr, {m_sim->linkPath(), id.manufacturer, id.vendorId}).availablePorts();
}

#ifndef SIMULATORPORTLISTER_H
#define SIMULATORPORTLISTER_H

#include "serialportlister.h"

class DeviceSimulator;

// Lists the simulator's port (its link path, while it exists) under the
// identity the simulator has now, so a test can change it between reboots.
class SimulatorPortLister : public SerialPortLister
{
public:
    explicit SimulatorPortLister(const DeviceSimulator *sim) : m_sim(sim) {}
    QList<SerialPortDescription> availablePorts() const override;

private:
    const DeviceSimulator *m_sim;
};

#endif // SIMULATORPORTLISTER_H

#ifndef DEVICERESTART_H
#define DEVICERESTART_H

class UpgradeProcess;

// Takes the device into its upgrade state: asks it to reboot until it
// confirms, waits for its port to come back and starts the remote upgrade.
class DeviceRestart
{
public:
    explicit DeviceRestart(UpgradeProcess &worker) : m_worker(worker) {}

    // False when the device never confirmed or the sequence was ended.
    bool rebootIntoUpgradeState();
    // False when the device did not come back or the sequence was ended.
    bool reconnectAfterReboot();
    void startRemoteUpgrade();

private:
    bool requestReboot(const char *mode);

    UpgradeProcess &m_worker;
};

#endif // DEVICERESTART_H

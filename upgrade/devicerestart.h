#ifndef DEVICERESTART_H
#define DEVICERESTART_H

#include "upgradeoutcome.h"

#include <optional>

class UpgradeChannel;
class UpgradeReport;

// Takes the device into its upgrade state: asks it to reboot until it
// confirms and waits for its port to come back; then the remote upgrade starts.
class DeviceRestart
{
public:
    static constexpr int RebootRepeats = 60;

    DeviceRestart(UpgradeChannel &channel, UpgradeReport &report) : m_channel(channel), m_report(report) {}

    // Both true when done; false when the device failed (`failure` set) or
    // the sequence was ended.
    // The reboot is confirmed and the port closed while the device restarts.
    bool rebootIntoUpgradeState(std::optional<UpgradeOutcome> *failure);
    // The device is back on its port.
    bool reconnectAfterReboot(std::optional<UpgradeOutcome> *failure);
    void startRemoteUpgrade();

private:
    bool requestReboot(const char *mode);

    UpgradeChannel &m_channel;
    UpgradeReport &m_report;
};

#endif // DEVICERESTART_H

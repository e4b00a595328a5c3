#ifndef DEVICERESTART_H
#define DEVICERESTART_H

#include "upgradechannel.h"
#include "upgradeoutcome.h"

#include <memory>
#include <optional>

class UpgradeReport;
class WaitReport;

// Takes the device into its upgrade state: asks it to reboot until it
// confirms and waits for its port to come back; then the remote upgrade starts.
// The user sees one wait, counted from the first reboot request to the
// settled port, with the limit the restart keeps as a whole.
class DeviceRestart
{
public:
    static constexpr int RebootRepeats = 60;
    // The longest a request can take: every transmission unacknowledged.
    static constexpr int RequestLimitMs = UpgradeChannel::RequestTransmissions * UpgradeChannel::AckTimeoutMs;
    // The longest the restart can take: the first request and its pause, each
    // repeat with its pause, then the wait for the port and its settling.
    static constexpr int RestartLimitMs = RequestLimitMs + UpgradeChannel::RebootPauseMs
        + (RebootRepeats + 1) * (UpgradeChannel::RebootPauseMs + RequestLimitMs)
        + UpgradeChannel::ReconnectLimitMs + UpgradeChannel::PortSettleMs;

    DeviceRestart(UpgradeChannel &channel, UpgradeReport &report);
    ~DeviceRestart();

    // Both true when done; false when the device failed (`failure` set) or
    // the sequence was ended.
    // The reboot is confirmed and the port closed while the device restarts.
    bool rebootIntoUpgradeState(std::optional<UpgradeOutcome> *failure);
    // The device is back on its port.
    bool reconnectAfterReboot(std::optional<UpgradeOutcome> *failure);
    void startRemoteUpgrade();

private:
    bool requestReboot(const char *mode);
    bool rebootConfirmed(std::optional<UpgradeOutcome> *failure);

    UpgradeChannel &m_channel;
    UpgradeReport &m_report;
    std::unique_ptr<WaitReport> m_wait; // from the first request to the settled port
};

#endif // DEVICERESTART_H

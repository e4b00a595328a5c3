#include "devicerestart.h"

#include "logging.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"
#include "waitreport.h"

namespace {
const char *const RebootFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "The FPV device failed to reboot correctly. Please restart the device and try the upgrade process again.");
const char *const ReconnectFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "The FPV device did not come back after its reboot, please restart the device to upgrade again.");
} // namespace

// Reopens the port and asks the device to reboot into `mode`, unless the
// sequence has been ended meanwhile; false then.
bool DeviceRestart::requestReboot(const char *mode)
{
    if (!m_worker.bRun.load())
        return false;
    m_worker.m_upgUsbVirtualSerial->reopenSerialPort();
    m_worker.upgReboot(mode);
    return true;
}

// Asks the device to reboot into its upgrade state until it confirms, then
// closes the port while it restarts. False when it never confirmed or the
// sequence was ended. Each request is followed by a full pause: the device
// needs it to go away.
bool DeviceRestart::rebootIntoUpgradeState()
{
    const auto report = m_worker.waitReport(UpgradeProcess::WaitKind::DeviceRestart);
    if (!requestReboot("clean"))
        return false;
    m_worker.pause(UpgradeProcess::RebootPauseMs);
    for (int sleepcount = 0; m_worker.m_rebootFlag.load() == 0;) {
        if (!m_worker.bRun.load())
            return false;
        m_worker.pause(UpgradeProcess::RebootPauseMs);
        ++sleepcount;
        LOG_INFO << "sleep " << sleepcount * UpgradeProcess::RebootPauseMs / 1000;
        if (!requestReboot("clean"))
            return false;
        if (sleepcount > UpgradeProcess::RebootRepeats) {
            m_worker.endWithFailure(QString::fromLatin1(RebootFailureLog),
                                    UpgradeProcess::tr("FPV设备无法正确重启，请重启设备并重试升级。"));
            return false;
        }
    }
    m_worker.m_rebootFlag.store(0);
    m_worker.m_upgUsbVirtualSerial->closeSerialPort();
    return true;
}

// Waits for the rebooted device's port and starts the remote upgrade.
bool DeviceRestart::reconnectAfterReboot()
{
    LOG_INFO << "fpv reboot, waiting for fpv reconnection...";
    emit m_worker.logMessage(UpgradeProcess::tr("waiting for reconnection..."));
    if (!m_worker.waitSerialResponse()) {
        if (m_worker.bRun.load())
            m_worker.endWithFailure(QString::fromLatin1(ReconnectFailureLog),
                                    UpgradeProcess::tr("FPV设备重启后未能重新连接，请重启设备再次升级。"));
        return false;
    }
    LOG_INFO << "fpv reconnection successfully.";
    emit m_worker.logMessage(UpgradeProcess::tr("fpv reconnection successfully."));
    startRemoteUpgrade();
    return true;
}

void DeviceRestart::startRemoteUpgrade()
{
    m_worker.setUpgStep(AR_CMD_REMOTE_UPGRADE);
    m_worker.commandUpgSendRecv(AR_CMD_REMOTE_UPGRADE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
}

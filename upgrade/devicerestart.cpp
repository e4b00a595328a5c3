#include "devicerestart.h"

#include "ARNetType.h"
#include "logging.h"
#include "replymailbox.h"
#include "upgradechannel.h"
#include "upgradereport.h"
#include "waitreport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {
const char *const RebootFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "The FPV device failed to reboot correctly. Please restart the device and try the upgrade process again.");
const char *const ReconnectFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "The FPV device did not come back after its reboot, please restart the device to upgrade again.");
} // namespace

DeviceRestart::DeviceRestart(UpgradeChannel &channel, UpgradeReport &report)
    : m_channel(channel)
    , m_report(report)
{
}

DeviceRestart::~DeviceRestart() = default;

// Reopens the port and asks the device to reboot into `mode`, unless the
// sequence has been ended meanwhile; false then.
bool DeviceRestart::requestReboot(const char *mode)
{
    if (!m_channel.mailbox().running())
        return false;
    m_channel.reopenSerialPort();
    m_channel.upgReboot(mode);
    return true;
}

bool DeviceRestart::rebootIntoUpgradeState(std::optional<UpgradeOutcome> *failure)
{
    m_wait = m_channel.waitReport(UpgradeWait::Phase::Restart, RestartLimitMs);
    if (!rebootConfirmed(failure)) {
        m_wait.reset();
        return false;
    }
    m_channel.mailbox().clearRebootConfirmation();
    m_channel.link().closeSerialPort();
    return true;
}

// Each request is followed by a full pause: the device needs it to go away.
bool DeviceRestart::rebootConfirmed(std::optional<UpgradeOutcome> *failure)
{
    ReplyMailbox &mailbox = m_channel.mailbox();
    if (!requestReboot("clean"))
        return false;
    mailbox.pause(UpgradeChannel::RebootPauseMs);
    for (int sleepcount = 0; !mailbox.rebootNoticed();) {
        if (!mailbox.running())
            return false;
        mailbox.pause(UpgradeChannel::RebootPauseMs);
        ++sleepcount;
        LOG_INFO << "sleep " << sleepcount * UpgradeChannel::RebootPauseMs / 1000;
        if (!requestReboot("clean"))
            return false;
        if (sleepcount > RebootRepeats) {
            LOG_CRITICAL << RebootFailureLog;
            m_report.logText(QCoreApplication::translate("UpgradeProcess", RebootFailureLog));
            *failure = UpgradeOutcome::of(
                UpgradeOutcome::Kind::NoReboot,
                QCoreApplication::translate("UpgradeProcess", "FPV设备无法正确重启，请重启设备并重试升级。"));
            return false;
        }
    }
    return true;
}

bool DeviceRestart::reconnectAfterReboot(std::optional<UpgradeOutcome> *failure)
{
    LOG_INFO << "fpv reboot, waiting for fpv reconnection...";
    m_report.logText(QCoreApplication::translate("UpgradeProcess", "waiting for reconnection..."));
    const bool back = m_channel.waitForPort(
        QDeadlineTimer(m_channel.mailbox().clock().realMs(UpgradeChannel::ReconnectLimitMs)));
    m_wait.reset();
    if (!back) {
        if (m_channel.mailbox().running()) {
            LOG_CRITICAL << ReconnectFailureLog;
            m_report.logText(QCoreApplication::translate("UpgradeProcess", ReconnectFailureLog));
            *failure = UpgradeOutcome::of(
                UpgradeOutcome::Kind::NotBack,
                QCoreApplication::translate("UpgradeProcess", "FPV设备重启后未能重新连接，请重启设备再次升级。"));
        }
        return false;
    }
    LOG_INFO << "fpv reconnection successfully.";
    m_report.logText(QCoreApplication::translate("UpgradeProcess", "fpv reconnection successfully."));
    return true;
}

void DeviceRestart::startRemoteUpgrade()
{
    m_channel.commandUpgSendRecv(AR_CMD_REMOTE_UPGRADE);
}

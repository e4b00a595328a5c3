// The upgrade page: the settings page's console command. It goes to the
// device through the command sender, which reopens the device's port before
// it sends; the page presents the outcome.
#include "upgradepage.h"

#include "consolecommand.h"
#include "devicecommandsender.h"
#include "logging.h"
#include "messageboxes.h"
#include "settingpage.h"

// ---- the console --------------------------------------------------------------------

void UpgradePage::handleTextFromSettingPage(const QString &text)
{
    LOG_DEBUG << "get upgrade flag:" << m_upgradeFlag << " text " << text;
    // A typo is reported before anything else: no state makes it sendable.
    QByteArray decoded;
    QString error;
    if (!ConsoleCommand::parse(text, &decoded, &error)) {
        LOG_WARNING << "console command refused:" << error;
        MessageBoxes::warning(this, tr("警告"), error);
        return;
    }
    if (m_upgradeFlag) {
        MessageBoxes::warning(this, tr("警告"), tr("升级进行中，无法发送命令"));
        return;
    }
    mayInterruptUpgrade(); // no upgrade runs: this only ends a restart check, which would share the port
    const QByteArray payload = decoded.left(DeviceCommandSender::RecordBytes);
    LOG_DEBUG << "send data:" << payload.toHex(' ') << "size" << payload.size();
    // Sent off the window's thread: a silent device takes five times two seconds.
    m_commandSender->sendConsoleRecord(decoded);
}

void UpgradePage::onConsoleRecordSent(DeviceCommandSender::Outcome outcome, int decodedBytes,
                                      const QString &deniedText)
{
    switch (outcome) {
    case DeviceCommandSender::Outcome::NoPort:
        warnUnlessWarningShown(tr("提示"), tr("请连接USB设备"));
        break;
    case DeviceCommandSender::Outcome::Denied:
        warnUnlessWarningShown(tr("警告"), deniedText);
        break;
    case DeviceCommandSender::Outcome::OpenFailed:
    case DeviceCommandSender::Outcome::NotAcknowledged:
        warnUnlessWarningShown(tr("警告"), tr("发送失败,请连接USB设备"));
        break;
    case DeviceCommandSender::Outcome::Acknowledged:
        if (decodedBytes > DeviceCommandSender::RecordBytes)
            reportTruncatedCommand(decodedBytes);
        // The device acknowledges the command plainly: the acknowledgement is the result.
        handleSenderTextstatus(0);
        break;
    }
    emit consoleCommandDone();
}

void UpgradePage::reportTruncatedCommand(int decodedBytes)
{
    if (m_settingPage)
        m_settingPage->handleLogMessage(tr("控制台命令：只发送了前%1个字节（共%2个）")
                                            .arg(DeviceCommandSender::RecordBytes)
                                            .arg(decodedBytes));
}

void UpgradePage::handleSenderTextstatus(int sendtextstatus)
{
    if (sendtextstatus == 0)
        MessageBoxes::warning(this, tr("提示"), tr("发送成功"));
    else
        MessageBoxes::warning(this, tr("警告"), tr("发送失败"));
}

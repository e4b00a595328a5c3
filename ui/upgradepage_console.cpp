// The upgrade page: the settings page's console command and the page's own
// command sender. Both reopen the device's port before they send.
#include "upgradepage.h"

#include "consolecommand.h"
#include "logging.h"
#include "messageboxes.h"
#include "settingpage.h"
#include "usbvirtualserial.h"

#include <QMutex>
#include <QThread>
#include <cstring>

namespace {
// Keeps two page commands from overlapping on the port.
QMutex gSendCmdMutex;

constexpr unsigned AckTimeoutMs = 2000;
constexpr int CommandSettleMs = 10;   // after reception starts, before a page command
constexpr int ConsoleSettleMs = 100;  // the same for a console command
constexpr unsigned ConsoleTransmissions = 5;
constexpr int ConsoleRecordBytes = int(sizeof(FPV_UPGRADE_SENDER_TEXT_t));
} // namespace

// Closes the port if it is open and opens `portName`; true when it opened.
bool UpgradePage::reopenPort(const QString &portName)
{
    if (m_usbVirtualSerial->SerialPortIsOpen()) {
        LOG_INFO << "com opening!!!";
        m_usbVirtualSerial->stopSerialRecv();
        m_usbVirtualSerial->closeSerialPort();
    }
    return m_usbVirtualSerial->openSerialPort(portName);
}

// ---- the page command sender --------------------------------------------------------

int UpgradePage::send_comand(int command, unsigned int retryNum, bool isPopUpWarning)
{
    // The worker owns the port during an upgrade.
    if (m_upgradeFlag)
        return -1;
    const QString portName = m_usbVirtualSerial->searchUsbVirtualSerialPort(true);
    if (portName.isEmpty()) {
        warnUnlessWarningShown(tr("提示"), tr("请连接USB设备"));
        return -1;
    }
    if (!reopenPort(portName)) {
        if (isPopUpWarning)
            warnUnlessWarningShown(tr("警告"), tr("无法打开升级串口，请重启FPV设备！"));
        return -1;
    }
    m_usbVirtualSerial->startSerialRecv();
    QThread::msleep(CommandSettleMs);
    const qint32 ret = m_usbVirtualSerial->commandSerialSend(
        unsigned(command), AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0, nullptr, 0, retryNum, AckTimeoutMs);
    if (ret >= 0)
        return 0;
    if (isPopUpWarning)
        warnUnlessWarningShown(tr("警告"),
                               tr("升级串口无法通信，请等待或重启FPV设备,并重新插拔设备侧USB！"));
    return -1;
}

int UpgradePage::sendComandSafe(int command, unsigned int retryNum, bool isPopUpWarning)
{
    QMutexLocker lock(&gSendCmdMutex);
    return send_comand(command, retryNum, isPopUpWarning);
}

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
    const QByteArray payload = decoded.left(ConsoleRecordBytes);
    FPV_UPGRADE_SENDER_TEXT_t record{};
    std::memcpy(&record, payload.constData(), std::size_t(payload.size()));

    if (m_upgradeFlag) {
        MessageBoxes::warning(this, tr("警告"), tr("升级进行中，无法发送命令"));
        return;
    }
    LOG_DEBUG << "send data:" << payload.toHex(' ') << "size" << payload.size();

    const QString portName = m_usbVirtualSerial->searchUsbVirtualSerialPort(true);
    if (portName.isEmpty()) {
        warnUnlessWarningShown(tr("提示"), tr("请连接USB设备"));
        return;
    }
    reopenPort(portName);
    m_usbVirtualSerial->startSerialRecv();
    QThread::msleep(ConsoleSettleMs);
    const qint32 ret = m_usbVirtualSerial->commandSerialSend(
        AR_COMMAND_SEND_TEXT, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0, reinterpret_cast<char *>(&record),
        sizeof record, ConsoleTransmissions, AckTimeoutMs);
    if (ret < 0) {
        warnUnlessWarningShown(tr("警告"), tr("发送失败,请连接USB设备"));
        return;
    }
    if (decoded.size() > ConsoleRecordBytes)
        reportTruncatedCommand(decoded.size());
    // The device acknowledges the command plainly: the acknowledgement is the result.
    handleSenderTextstatus(0);
}

void UpgradePage::reportTruncatedCommand(int decodedBytes)
{
    if (m_settingPage)
        m_settingPage->handleLogMessage(tr("控制台命令：只发送了前%1个字节（共%2个）")
                                            .arg(ConsoleRecordBytes)
                                            .arg(decodedBytes));
}

void UpgradePage::handleSenderTextstatus(int sendtextstatus)
{
    if (sendtextstatus == 0)
        MessageBoxes::warning(this, tr("提示"), tr("发送成功"));
    else
        MessageBoxes::warning(this, tr("警告"), tr("发送失败"));
}

#include "upgradechannel.h"

#include "ARNetType.h"
#include "datatransfer.h"
#include "logging.h"
#include "replymailbox.h"
#include "upgradereport.h"
#include "waitreport.h"


UpgradeChannel::UpgradeChannel(DeviceLink &link, ReplyMailbox &mailbox, UpgradeReport &report)
    : m_link(link)
    , m_mailbox(mailbox)
    , m_report(report)
{
}

int UpgradeChannel::getSegmentLength() const
{
    static const int Units[] = {1048576, 512000, 409600, 307200, 204800, 102400,
                                51200,   40960,  30720,  20480,  10240};
    const int length = m_mailbox.segmentLength();
    if (length == 4096)
        return 4096;
    for (int unit : Units)
        if (length >= unit)
            return unit;
    return ReplyMailbox::DefaultSegmentLength;
}

qint32 UpgradeChannel::commandUpgSendRecv(unsigned cmd, const QByteArray &payload)
{
    if (!m_mailbox.running())
        return -1; // an ended sequence sends nothing more
    return m_link.request(cmd, payload, RequestTransmissions,
                          unsigned(m_mailbox.clock().replyWaitMs(AckTimeoutMs)), m_mailbox.proceed());
}

std::unique_ptr<DataTransfer> UpgradeChannel::startTransfer(QFile &file, qint64 size, int segmentLength,
                                                            unsigned imgType, SentImage &sent)
{
    const unsigned timeoutMs = unsigned(m_mailbox.clock().replyWaitMs(
        imgType == IMG_TAREL_8333_SENSOR ? SensorAckTimeoutMs : AckTimeoutMs));
    const int segUnitLength = getSegmentLength();
    LOG_INFO << "segUnitLength" << segUnitLength;
    return std::make_unique<DataTransfer>(
        file, size, segmentLength, segUnitLength,
        m_link.openFrameQueue(AR_CMD_SENDFILE_DATA, RequestTransmissions, timeoutMs, m_mailbox.proceed()), sent);
}

void UpgradeChannel::upgReboot(const char *reboot_mode)
{
    LOG_INFO << "upgReboot mode: " << reboot_mode;
    ar_device_reboot record{};
    qstrncpy(record.mode, reboot_mode, sizeof(record.mode));
    commandUpgSendRecv(AR_COMMAND_GET_ACTIVE,
                       QByteArray(reinterpret_cast<const char *>(&record), int(sizeof(record))));
}

void UpgradeChannel::reopenSerialPort()
{
    if (m_link.openDevicePort(true) != DeviceLink::PortOpening::NoPort)
        LOG_INFO << "reopenSerialPort";
}

bool UpgradeChannel::waitForPort(const QDeadlineTimer &limit)
{
    bool opened = false;
    while (m_mailbox.running() && !limit.hasExpired()) {
        if (m_link.openDevicePort(false) == DeviceLink::PortOpening::Opened) {
            LOG_INFO << "SerialPort Open!!!!!!";
            m_mailbox.pause(PortSettleMs);
            if (!m_mailbox.running())
                break;
            // A port that was still on its way out fails while settling: wait on.
            if (m_link.SerialPortIsOpen()) {
                opened = true;
                break;
            }
            continue;
        }
        LOG_INFO << "SerialPort not Open";
        m_mailbox.pause(PortRetryMs);
    }
    LOG_INFO << (opened ? "SerialPort is Open" : "SerialPort wait ended");
    return opened;
}

int UpgradeChannel::waitReceiveDateResponse()
{
    const auto report = waitReport(UpgradeWait::Phase::Verdict, VerdictPolls * VerdictPollMs);
    const bool arrived = m_mailbox.waitForAnswer([this] { return m_mailbox.verdict() != ReplyMailbox::NoVerdict; },
                                           VerdictPolls * VerdictPollMs);
    if (!arrived)
        LOG_INFO << "waitReceiveDateResponse timeout " << VerdictPolls + 1;
    LOG_INFO << "waitReceiveDateResponse m_receiveStatus " << m_mailbox.verdict();
    return m_mailbox.verdict();
}

// The log view gets a line when a wait starts and then every few seconds.
void UpgradeChannel::reportWaiting(const UpgradeWait &wait, qint64 *loggedPeriod)
{
    const qint64 period = wait.seconds / WaitLogEverySeconds;
    if (period != *loggedPeriod) {
        *loggedPeriod = period;
        m_report.logText(QStringLiteral("waiting (%1)... %2 s of up to %3 s")
                             .arg(wait.name()).arg(wait.seconds).arg(wait.limitSeconds));
    }
    m_report.waiting(wait);
}

std::unique_ptr<WaitReport> UpgradeChannel::waitReport(UpgradeWait::Phase phase, int limitMs)
{
    auto loggedPeriod = std::make_shared<qint64>(-1);
    return std::make_unique<WaitReport>(
        m_mailbox.clock(), WaitTickMs,
        [this, phase, limitMs, loggedPeriod](qint64 seconds) {
            reportWaiting({phase, seconds, limitMs / 1000}, loggedPeriod.get());
        },
        [this] { m_report.waiting(UpgradeWait()); });
}

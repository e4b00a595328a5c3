#include "devicecommandsender.h"

#include "ARNetType.h"

namespace {
constexpr unsigned AckTimeoutMs = 2000;
constexpr unsigned ConsoleTransmissions = 5;
static_assert(DeviceCommandSender::RecordBytes == int(sizeof(FPV_UPGRADE_SENDER_TEXT_t)),
              "the console record");
} // namespace

DeviceCommandSender::DeviceCommandSender(DeviceLink *link, std::shared_ptr<const UpgradeClock> clock)
    : m_link(link)
    , m_clock(std::move(clock))
{
    qRegisterMetaType<DeviceCommandSender::Outcome>();
}

void DeviceCommandSender::sendConsoleRecord(const QByteArray &decoded)
{
    QByteArray record = decoded.left(RecordBytes);
    record.append(RecordBytes - record.size(), '\0');
    QMetaObject::invokeMethod(this, [this, record, decodedBytes = decoded.size()] {
        PortAccess access;
        const Outcome outcome = sendRecordOnThisThread(record, &access);
        emit consoleRecordSent(outcome, decodedBytes,
                               outcome == Outcome::Denied ? access.deniedText() : QString());
    }, Qt::QueuedConnection);
}

// A port that does not open for another reason is left to the send to find
// out: its header write fails at once. A port just opened takes a moment
// before the device answers on it: the pause is made here, on the sender's
// thread, never on the window's.
DeviceCommandSender::Outcome DeviceCommandSender::sendRecordOnThisThread(QByteArray record,
                                                                         PortAccess *access)
{
    switch (m_link->openDevicePort(true, access)) {
    case DeviceLink::PortOpening::NoPort:
        return Outcome::NoPort;
    case DeviceLink::PortOpening::Denied:
        return Outcome::Denied;
    case DeviceLink::PortOpening::Opened:
        m_clock->sleep(ConsoleSettleMs);
        break;
    case DeviceLink::PortOpening::OpenFailed:
        break;
    }
    const qint32 ret = m_link->request(AR_COMMAND_SEND_TEXT, record, ConsoleTransmissions,
                                       unsigned(m_clock->replyWaitMs(AckTimeoutMs)));
    return ret < 0 ? Outcome::NotAcknowledged : Outcome::Acknowledged;
}

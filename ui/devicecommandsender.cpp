#include "devicecommandsender.h"

#include "usbvirtualserial.h"

#include <QThread>

namespace {
constexpr unsigned AckTimeoutMs = 2000;
constexpr unsigned ConsoleTransmissions = 5;
static_assert(DeviceCommandSender::RecordBytes == int(sizeof(FPV_UPGRADE_SENDER_TEXT_t)),
              "the console record");
} // namespace

DeviceCommandSender::DeviceCommandSender(UsbVirtualSerial *link)
    : m_link(link)
{
    qRegisterMetaType<DeviceCommandSender::Outcome>();
}

DeviceCommandSender::Outcome DeviceCommandSender::sendCommand(int command, unsigned int transmissions,
                                                              PortAccess *access)
{
    Q_ASSERT(QThread::currentThread() != thread());
    Outcome outcome = Outcome::NoPort;
    QMetaObject::invokeMethod(this, [=] { return sendOnThisThread(command, transmissions, access); },
                              Qt::BlockingQueuedConnection, &outcome);
    return outcome;
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

// A port just opened takes a moment before the device answers on it: the
// pause is made here, on the sender's thread, never on the window's.
UsbVirtualSerial::PortOpening DeviceCommandSender::openAndSettle(int settleMs, PortAccess *access)
{
    const UsbVirtualSerial::PortOpening opening = m_link->openDevicePort(true, access);
    if (opening == UsbVirtualSerial::PortOpening::Opened)
        QThread::msleep(ulong(settleMs));
    return opening;
}

DeviceCommandSender::Outcome DeviceCommandSender::sendOnThisThread(int command, unsigned int transmissions,
                                                                   PortAccess *access)
{
    switch (openAndSettle(CommandSettleMs, access)) {
    case UsbVirtualSerial::PortOpening::NoPort:
        return Outcome::NoPort;
    case UsbVirtualSerial::PortOpening::OpenFailed:
        return Outcome::OpenFailed;
    case UsbVirtualSerial::PortOpening::Denied:
        return Outcome::Denied;
    case UsbVirtualSerial::PortOpening::Opened:
        break;
    }
    const qint32 ret = m_link->commandSerialSend(unsigned(command), AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                                 nullptr, 0, transmissions, AckTimeoutMs);
    return ret >= 0 ? Outcome::Acknowledged : Outcome::NotAcknowledged;
}

// A port that does not open for another reason is left to the send to find
// out: its header write fails at once.
DeviceCommandSender::Outcome DeviceCommandSender::sendRecordOnThisThread(QByteArray record,
                                                                         PortAccess *access)
{
    switch (openAndSettle(ConsoleSettleMs, access)) {
    case UsbVirtualSerial::PortOpening::NoPort:
        return Outcome::NoPort;
    case UsbVirtualSerial::PortOpening::Denied:
        return Outcome::Denied;
    case UsbVirtualSerial::PortOpening::OpenFailed:
    case UsbVirtualSerial::PortOpening::Opened:
        break;
    }
    const qint32 ret = m_link->commandSerialSend(AR_COMMAND_SEND_TEXT, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                                 record.data(), unsigned(record.size()),
                                                 ConsoleTransmissions, AckTimeoutMs);
    return ret < 0 ? Outcome::NotAcknowledged : Outcome::Acknowledged;
}

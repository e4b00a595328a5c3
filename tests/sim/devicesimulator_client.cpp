#include "devicesimulator_client.h"

#include "protocolframe.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <cstring>

namespace {
constexpr qint32 BaudRate = 115200;
} // namespace

SimClient::SimClient(const QString &portPath)
{
    m_port.setPortName(portPath);
    m_port.setBaudRate(BaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.open(QIODevice::ReadWrite);
}

void SimClient::sendRaw(const QByteArray &bytes)
{
    m_port.write(bytes);
    while (m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(ReplyWaitMs))
            return;
    }
}

void SimClient::send(quint32 command, quint32 seq, const QByteArray &payload, quint32 retry)
{
    sendRaw(ProtocolFrame::encode(command, AR_MSGTYPE_REQUEST, seq, retry, payload));
}

std::optional<ReceivedFrame> SimClient::request(quint32 command, quint32 seq,
                                                const QByteArray &payload)
{
    send(command, seq, payload);
    const QList<ReceivedFrame> replies = receive(1);
    if (replies.isEmpty())
        return std::nullopt;
    return replies.first();
}

QList<ReceivedFrame> SimClient::receive(int count, int waitMs)
{
    QDeadlineTimer deadline(waitMs);
    while (m_frames.size() < count && !deadline.hasExpired()) {
        if (m_port.bytesAvailable() == 0 && !m_port.waitForReadyRead(int(deadline.remainingTime())))
            continue;
        m_frames += m_assembler.feed(m_port.readAll());
    }
    const QList<ReceivedFrame> taken = m_frames.mid(0, count);
    m_frames = m_frames.mid(taken.size());
    return taken;
}

namespace SimTestData {

QByteArray md5Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

QByteArray fileStart(const QByteArray &md5, int length)
{
    ar_file_info info{};
    std::memcpy(info.MD5, md5.constData(), size_t(qMin(md5.size(), int(sizeof(info.MD5)) - 1)));
    info.length = length;
    info.saveAsFile = 1;
    qstrncpy(info.filePath, "/tmp/fw.img", sizeof(info.filePath));
    return ProtocolFrame::recordBytes(info);
}

QByteArray rebootRequest(const char *mode)
{
    ar_device_reboot reboot{};
    qstrncpy(reboot.mode, mode, sizeof(reboot.mode));
    return ProtocolFrame::recordBytes(reboot);
}

int replyStatus(const ReceivedFrame &frame)
{
    return recordOf<ar_receive_date_info>(frame).status;
}

} // namespace SimTestData

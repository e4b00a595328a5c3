#include "usbvirtualserial.h"

#include "logging.h"
#include "portworker.h"
#include "protocolframe.h"

#include <cstring>

namespace {
constexpr int DeviceDumpBytesPerLine = 16;
} // namespace

UsbVirtualSerial::UsbVirtualSerial(SharedPortLister ports)
    : m_finder(std::move(ports))
    , m_port(new PortWorker(&m_identity, [this](const ar_protocol_t *header) { handleReceivedPacket(header); }))
    , m_sender(m_port, [this] { reopenSerialPort(); })
{
    crc32_init();
    LOG_INFO << "crc32_init";
    qRegisterMetaType<ar_upgrade_status>("ar_upgrade_status");
    qRegisterMetaType<ar_device_info>("ar_device_info");
    LOG_INFO << "m_startSerialRecv:" << m_port->isReceiving();

    // Passed on where they arise, on the port's thread; receivers elsewhere
    // get them queued. The signal goes first: what follows a reply (its
    // progress event, say) is told before the reply wakes a waiting sequence.
    connect(m_port, &PortWorker::upgradeStatus, this, [this](ar_upgrade_status status) {
        emit sig_sendUpgradeProcess(status);
        handOver([&](Replies *replies) { replies->statusReport(status); });
    }, Qt::DirectConnection);
    connect(m_port, &PortWorker::segmentLength, this, [this](int length) {
        emit sig_SegLength(length);
        handOver([&](Replies *replies) { replies->segmentLength(length); });
    }, Qt::DirectConnection);
    connect(m_port, &PortWorker::rebootConfirmed, this, [this] {
        emit sig_reboot();
        handOver([](Replies *replies) { replies->rebootConfirmed(); });
    }, Qt::DirectConnection);
    connect(m_port, &PortWorker::fileVerdict, this, [this](int verdict) {
        emit sig_receiveDateInfo(verdict);
        handOver([&](Replies *replies) { replies->fileVerdict(verdict); });
    }, Qt::DirectConnection);
    connect(m_port, &PortWorker::portClosed, this, [this] { m_sender.portClosed(); }, Qt::DirectConnection);
    connect(&m_thread, &QThread::finished, m_port, &QObject::deleteLater);
    m_port->moveToThread(&m_thread);
    m_thread.start();
}

UsbVirtualSerial::~UsbVirtualSerial()
{
    m_thread.quit();
    m_thread.wait();
}

// ---- discovery and the port ------------------------------------------------------

QString UsbVirtualSerial::searchUsbVirtualSerialPort(bool isfirst)
{
    return m_finder.findPort(isfirst);
}

quint16 UsbVirtualSerial::searchUsbDevice()
{
    return m_finder.findDevice();
}

bool UsbVirtualSerial::openSerialPort(const QString &portName)
{
    return m_port->open(portName);
}

bool UsbVirtualSerial::SerialPortIsOpen()
{
    return m_port->isOpen();
}

void UsbVirtualSerial::closeSerialPort()
{
    m_port->close();
}

UsbVirtualSerial::PortOpening UsbVirtualSerial::openDevicePort(bool anyDevice, PortAccess *access)
{
    const QString name = searchUsbVirtualSerialPort(anyDevice);
    if (name.isEmpty())
        return PortOpening::NoPort;
    if (SerialPortIsOpen()) {
        LOG_INFO << "com opening!!!";
        stopSerialRecv();
        closeSerialPort();
    }
    if (!openSerialPort(name)) {
        const PortAccess found = m_finder.accessOf(name);
        if (access)
            *access = found;
        return found.denied() ? PortOpening::Denied : PortOpening::OpenFailed;
    }
    startSerialRecv();
    return PortOpening::Opened;
}

void UsbVirtualSerial::reopenSerialPort()
{
    if (openDevicePort(true) != PortOpening::NoPort)
        LOG_INFO << "reopenSerialPort";
}

void UsbVirtualSerial::startSerialRecv()
{
    m_port->startReception();
}

void UsbVirtualSerial::stopSerialRecv()
{
    m_port->stopReception();
}

bool UsbVirtualSerial::isSerialRecvStarted() const
{
    return m_port->isReceiving();
}

qint64 UsbVirtualSerial::unreadBytes()
{
    return m_port->unreadBytes();
}

// ---- sending -------------------------------------------------------------------

qint32 UsbVirtualSerial::commandSerialSend(unsigned int cmd, quint16 type, quint16 format,
                                           quint16 user_id, char *date, unsigned int len,
                                           unsigned int retryNumber, unsigned int timeout_ms,
                                           const RequestSender::Proceed &proceed)
{
    return m_sender.send(cmd, type, format, user_id, date, len, retryNumber, timeout_ms, proceed);
}

qint32 UsbVirtualSerial::request(unsigned command, const QByteArray &payload, unsigned transmissions,
                                 unsigned timeoutMs, const Proceed &proceed)
{
    return m_sender.send(command, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                         payload.isEmpty() ? nullptr : payload.constData(), unsigned(payload.size()), transmissions,
                         timeoutMs, proceed);
}

void UsbVirtualSerial::sendAckResponse(uint32_t seq)
{
    ar_protocol_t header = ProtocolFrame::makeHeader(AR_CMD_ACK, AR_MSGTYPE_ACK, AR_FMT_BINARY, 0, 0, seq);
    header.crc32 = crc32_calculate(reinterpret_cast<char *>(&header), sizeof(header));
    m_port->write({ProtocolFrame::headerBytes(header)});
    LOG_INFO << "ack_header.command:" << header.command;
}

qint64 UsbVirtualSerial::rawWrite(const QByteArray &bytes)
{
    const PortWrite write = m_port->write({bytes}).first();
    if (PortWorker::checkAccepted(write)) {
        m_port->waitUntilWritten(write.mark, RawWriteCompletionTimeoutMs);
        LOG_INFO << "Data sent successfully:" << write.accepted << "bytes written.";
    }
    return write.accepted;
}

qint64 UsbVirtualSerial::SerialSend(char *data, qint64 len)
{
    return rawWrite(QByteArray::fromRawData(data, int(len)));
}

qint64 UsbVirtualSerial::SerialSend_V1(ar_protocol_t head, char *data, qint64 len)
{
    qint64 total = qMax<qint64>(0, rawWrite(ProtocolFrame::headerBytes(head)));
    if (data)
        total += qMax<qint64>(0, SerialSend(data, len));
    return total;
}

void UsbVirtualSerial::crc32_init()
{
    static const char nothing = 0;
    ProtocolFrame::crc32(&nothing, 0); // the first CRC prepares what the routine needs
}

quint32 UsbVirtualSerial::crc32_calculate(char *data, quint32 length)
{
    return ProtocolFrame::crc32(data, length);
}

quint32 UsbVirtualSerial::crc32_calculate2date(char *data, quint32 length, char *data1, quint32 length1)
{
    return ProtocolFrame::crc32(data, length, data1, length1);
}

// ---- receiving -----------------------------------------------------------------

void UsbVirtualSerial::commandSerialReceive()
{
    m_port->call([this] { m_port->receivePass(); });
}

void UsbVirtualSerial::receiveBytes(const QByteArray &bytes)
{
    m_port->receiveBytes(bytes);
}

// ---- replies -------------------------------------------------------------------

void UsbVirtualSerial::setReplies(Replies *replies)
{
    QMutexLocker lock(&m_repliesMutex);
    m_replies = replies;
}

void UsbVirtualSerial::releaseReplies(Replies *replies)
{
    QMutexLocker lock(&m_repliesMutex);
    if (m_replies == replies)
        m_replies = nullptr;
}

template <typename Hand>
void UsbVirtualSerial::handOver(Hand hand)
{
    QMutexLocker lock(&m_repliesMutex);
    if (m_replies)
        hand(m_replies);
}

// ---- identity ------------------------------------------------------------------

void UsbVirtualSerial::setDeviceInfo(const char *firmwareInfo, const char *serialNumber,
                                     const char *hardwareVersion, int cputemp)
{
    DeviceIdentityInfo info;
    std::memcpy(info.firmware.data(), firmwareInfo, info.firmware.size());
    std::memcpy(info.serial.data(), serialNumber, info.serial.size());
    std::memcpy(info.hardware.data(), hardwareVersion, info.hardware.size());
    info.cpuTemp = cputemp;
    m_identity.store(info);
}

void UsbVirtualSerial::getDeviceInfo(char *firmwareInfo, char *serialNumber, char *hardwareVersion,
                                     int *cputemp)
{
    const DeviceIdentityInfo info = m_identity.info();
    std::memcpy(firmwareInfo, info.firmware.data(), info.firmware.size());
    std::memcpy(serialNumber, info.serial.data(), info.serial.size());
    std::memcpy(hardwareVersion, info.hardware.data(), info.hardware.size());
    *cputemp = info.cpuTemp;
    LOG_INFO << "get" << "m_cputemp " << info.cpuTemp;
    LOG_INFO << "get" << "cputemp " << *cputemp << "firmwareInfo" << fixedFieldText(firmwareInfo, 64)
             << "serialNumber" << fixedFieldText(serialNumber, 32) << "hardwareVersion"
             << fixedFieldText(hardwareVersion, 32);
}

void UsbVirtualSerial::resetDeviceInfoPara()
{
    m_identity.forget();
    m_sender.restartSequence();
}

void UsbVirtualSerial::print_deviceinfo_binary(const ar_device_info *info)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(info);
    const int size = int(sizeof(*info));
    qDebug().noquote() << "ar_device_info binary dump (" << size << "bytes):";
    for (int start = 0; start < size; start += DeviceDumpBytesPerLine) {
        QString line;
        for (int i = start; i < qMin(size, start + DeviceDumpBytesPerLine); ++i)
            line += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
        qDebug().noquote() << line;
    }
}

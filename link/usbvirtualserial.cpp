#include "usbvirtualserial.h"

#include "logging.h"
#include "protocolframe.h"
#include "serialportchannel.h"

#include <QDeadlineTimer>
#include <cstring>
#include <type_traits>
#include <utility>

std::atomic<int> m_upgrade_device_vid{0};

const char UsbVirtualSerial::DeviceManufacturer[] = "rurudir";

namespace {
constexpr int DeviceDumpBytesPerLine = 16;

// A fixed-width text field of a record, up to its first NUL.
QString fieldText(const char *field, int size)
{
    return QString::fromUtf8(field, int(qstrnlen(field, uint(size))));
}

template <int N>
QString fieldText(const char (&field)[N])
{
    return fieldText(field, N);
}
} // namespace

UsbVirtualSerial::UsbVirtualSerial(SharedPortLister ports)
    : m_ports(std::move(ports))
    , m_receiveBuffer(FrameAssembler::Logging::Verbose)
{
    start();
    m_channelReady.acquire(); // the port channel exists before any call reaches it
}

UsbVirtualSerial::~UsbVirtualSerial()
{
    quit();
    wait();
}

void UsbVirtualSerial::run()
{
    crc32_init();
    LOG_INFO << "crc32_init";
    qRegisterMetaType<QMap<QString, QString>>("StringMap");
    qRegisterMetaType<ar_upgrade_status>("ar_upgrade_status");
    qRegisterMetaType<ar_device_info>("ar_device_info");
    LOG_INFO << "m_startSerialRecv:" << m_startSerialRecv.load();

    SerialPortChannel channel;
    connect(&channel, &SerialPortChannel::readyRead, &channel, [this] { commandSerialReceive(); });
    m_channel = &channel;
    m_channelReady.release();
    exec();
    qDeleteAll(serialPorts);
    serialPorts.clear();
    m_channel = nullptr;
}

template <typename Function>
auto UsbVirtualSerial::onLinkThread(Function function) -> decltype(function())
{
    using Result = decltype(function());
    if (QThread::currentThread() == this)
        return function();
    if constexpr (std::is_void<Result>::value) {
        QMetaObject::invokeMethod(m_channel, function, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(m_channel, function, Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

// ---- discovery and presence --------------------------------------------------

bool UsbVirtualSerial::isRecognisedVendor(int vid)
{
    return vid > RecognisedVidAbove && vid <= RecognisedVidLast;
}

QString UsbVirtualSerial::searchUsbVirtualSerialPort(bool isfirst)
{
    const int upgradeVid = m_upgrade_device_vid.load();
    LOG_WARNING << "################# m_upgrade_device_vid " << upgradeVid << ", isfirst" << isfirst;
    const auto ports = m_ports->availablePorts();
    for (const SerialPortDescription &port : ports) {
        const bool matches = isfirst
                ? (port.manufacturer == QLatin1String(DeviceManufacturer)
                   || isRecognisedVendor(port.vendorIdentifier))
                : (upgradeVid != 0 && upgradeVid == port.vendorIdentifier);
        if (!matches)
            continue;
        LOG_INFO << "name: " << port.portName << "vendorIdentifier: " << port.vendorIdentifier;
        QMutexLocker lock(&m_portNameMutex);
        m_portName = port.portName;
        return port.portName;
    }
    LOG_WARNING << "not search result, get usb vid " << m_vid.load();
    return QString();
}

quint16 UsbVirtualSerial::searchUsbDevice()
{
    const auto ports = m_ports->availablePorts();
    for (const SerialPortDescription &port : ports) {
        if (port.manufacturer != QLatin1String(DeviceManufacturer)) {
            if (!isRecognisedVendor(port.vendorIdentifier))
                continue;
            const int known = m_vid.load();
            if (known != 0)
                return quint16(known); // the device already known keeps its identifier
        }
        m_vid.store(port.vendorIdentifier);
        return port.vendorIdentifier;
    }
    return 0;
}

int UsbVirtualSerial::get_usb_vid() const
{
    return m_vid.load();
}

void UsbVirtualSerial::set_usb_vid(int vid)
{
    m_vid.store(vid);
}

// ---- the port ------------------------------------------------------------------

bool UsbVirtualSerial::openSerialPort(const QString &portName)
{
    LOG_INFO << "portName: " << portName;
    const bool opened = onLinkThread([&] {
        // Half a frame from the previous connection would swallow the first
        // reply of this one.
        m_receiveBuffer.clear();
        return m_channel->open(portName);
    });
    if (!opened) {
        LOG_CRITICAL << "open failed!";
        return false;
    }
    LOG_INFO << "is open: " << opened;
    LOG_INFO << "open portName: " << portName << "successfully!";
    return true;
}

bool UsbVirtualSerial::openmultSerialPort(const QStringList &portNames)
{
    return onLinkThread([&] {
        for (const QString &name : portNames) {
            auto *port = new SerialPortChannel;
            if (!port->open(name)) {
                LOG_CRITICAL << "Failed to open port" << name;
                delete port;
                return false;
            }
            LOG_INFO << "Opened port:" << name;
            delete serialPorts.value(name);
            serialPorts.insert(name, port);
        }
        return true;
    });
}

bool UsbVirtualSerial::SerialPortIsOpen()
{
    struct State { bool exists, open, writable; };
    const State state = onLinkThread([&] {
        return State{m_channel->exists(), m_channel->isOpen(), m_channel->isWritable()};
    });
    if (!state.exists)
        return false;
    LOG_INFO << "isOpen: " << state.open << "isWritable: " << state.writable;
    return state.open;
}

void UsbVirtualSerial::closeSerialPort()
{
    onLinkThread([&] {
        const bool wasOpen = m_channel->isOpen();
        LOG_INFO << "is open: " << wasOpen;
        if (!wasOpen)
            return;
        m_channel->close();
        LOG_INFO << "Serial close :" << m_channel->portName() << "is open:" << m_channel->isOpen();
    });
}

void UsbVirtualSerial::reopenSerialPort()
{
    const QString name = searchUsbVirtualSerialPort(true);
    if (name.isEmpty())
        return;
    closeSerialPort();
    stopSerialRecv();
    openSerialPort(name);
    startSerialRecv();
    LOG_INFO << "reopenSerialPort";
}

void UsbVirtualSerial::startSerialRecv()
{
    m_startSerialRecv.store(true);
    // Bytes that arrived while reception was off are waiting in the port.
    QMetaObject::invokeMethod(m_channel, [this] { commandSerialReceive(); }, Qt::QueuedConnection);
}

void UsbVirtualSerial::stopSerialRecv()
{
    m_startSerialRecv.store(false);
}

// ---- sending -------------------------------------------------------------------

UsbVirtualSerial::JoinedRuns UsbVirtualSerial::joinRuns(const QList<QByteArray> &runs)
{
    // One copy, made here: the caller's buffers may change once it returns.
    JoinedRuns joined;
    int total = 0;
    for (const QByteArray &run : runs)
        total += run.size();
    joined.bytes.reserve(total);
    for (const QByteArray &run : runs) {
        joined.bytes.append(run.constData(), run.size());
        joined.sizes.append(run.size());
    }
    return joined;
}

// The frame goes to the port in one write, so it reaches the device in one piece.
QList<UsbVirtualSerial::QueuedWrite> UsbVirtualSerial::writeRuns(const JoinedRuns &runs)
{
    quint64 mark = 0;
    const qint64 accepted = m_channel->write(runs.bytes, &mark);
    QList<QueuedWrite> writes;
    qint64 start = 0; // of the run within the joined bytes
    for (qint64 size : runs.sizes) {
        QueuedWrite write;
        write.size = size;
        if (accepted < 0) {
            write.error = m_channel->errorString();
        } else {
            write.accepted = qBound<qint64>(0, accepted - start, write.size);
            write.mark = mark - quint64(accepted) + quint64(start + write.accepted);
        }
        start += write.size;
        writes.append(write);
    }
    return writes;
}

QList<UsbVirtualSerial::QueuedWrite> UsbVirtualSerial::queueWrites(const QList<QByteArray> &runs)
{
    Q_ASSERT(QThread::currentThread() != this); // the waits that follow need the link thread running
    const JoinedRuns joined = joinRuns(runs);
    return onLinkThread([&] { return writeRuns(joined); });
}

void UsbVirtualSerial::postTransmission(quint64 id, const QList<QByteArray> &runs)
{
    QMetaObject::invokeMethod(m_channel, [this, id, joined = joinRuns(runs)] {
        Transmission transmission;
        transmission.writes = writeRuns(joined);
        transmission.writtenAt = QDeadlineTimer::current();
        transmission.clean = true;
        for (const QueuedWrite &write : qAsConst(transmission.writes)) {
            transmission.clean = transmission.clean && write.accepted == write.size
                    && m_channel->waitUntilWritten(write.mark, 0);
        }
        if (transmission.clean) {
            for (int i = 0; i < transmission.writes.size(); ++i)
                logTransmission(transmission.writes.at(i), i, true);
        }
        QMutexLocker lock(&ackMutex);
        m_transmissions.insert(id, transmission);
        // A clean transmission leaves the sender to its acknowledgement,
        // unless it has been waiting for the write to begin counting.
        if (!transmission.clean || std::exchange(m_senderAwaitsWrite, false))
            ackArrived.wakeAll();
    }, Qt::QueuedConnection);
}

UsbVirtualSerial::Transmission UsbVirtualSerial::takeTransmission(quint64 id)
{
    QDeadlineTimer deadline(WriteCompletionTimeoutMs);
    QMutexLocker lock(&ackMutex);
    while (!m_transmissions.contains(id)) {
        if (!ackArrived.wait(&ackMutex, deadline) && !m_transmissions.contains(id)) {
            Transmission lost; // the link's thread never got to it
            lost.writes.append(QueuedWrite{});
            lost.writes.first().error = QStringLiteral("the write was not carried out in time");
            return lost;
        }
    }
    return m_transmissions.take(id);
}

bool UsbVirtualSerial::checkAccepted(const QueuedWrite &write)
{
    if (write.accepted < 0) {
        LOG_CRITICAL << "Write failed:" << write.error;
        return false;
    }
    if (write.accepted < write.size) {
        LOG_CRITICAL << "Partial write:" << write.accepted << "bytes written.";
        return false;
    }
    return true;
}

void UsbVirtualSerial::logTransmission(const QueuedWrite &write, int run, bool flushed)
{
    LOG_INFO << (run == 0 ? "sendHeader Data sent successfully:" : "Data sent successfully:")
             << write.accepted << "bytes written." << "ret " << int(flushed);
}

void UsbVirtualSerial::confirmTransmission(const QueuedWrite &write, int run)
{
    const bool flushed = m_channel->waitUntilWritten(write.mark, WriteCompletionTimeoutMs);
    logTransmission(write, run, flushed);
    if (!flushed) {
        LOG_INFO << "Data sent isWritable:" << int(onLinkThread([&] { return m_channel->isWritable(); }));
        reopenSerialPort();
    }
}

qint32 UsbVirtualSerial::commandSerialSend(unsigned int cmd, quint16 type, quint16 format,
                                           quint16 user_id, char *date, unsigned int len,
                                           unsigned int retryNumber, unsigned int timeout_ms)
{
    Q_ASSERT(QThread::currentThread() != this); // the wait needs the link thread running
    const unsigned int transmissions = qMax(1u, retryNumber);
    const quint32 seq = m_seq.load();
    ar_protocol_t header = ProtocolFrame::makeHeader(cmd, type, format, user_id, len, seq);
    const QByteArray payload = date ? QByteArray::fromRawData(date, int(len)) : QByteArray();
    {
        // Nobody waits for an entry left from an earlier request; a late reply
        // to a failed request must not acknowledge this one.
        QMutexLocker lock(&ackMutex);
        ackStatus.clear();
    }

    for (unsigned int sent = 0;;) {
        ProtocolFrame::seal(&header, sent, date, date ? len : 0);
        LOG_INFO << "sendHeader.command:" << cmd << "sendHeader.seq: " << seq
                 << "sendHeader.crc32: " << header.crc32 << "retryNumber" << retryNumber;

        QList<QByteArray> runs{ProtocolFrame::headerBytes(header)};
        if (date)
            runs.append(payload);
        // The frame is written on the link's thread while this one waits for
        // its acknowledgement: a clean write needs nothing more from here.
        const quint64 id = m_transmissionCount.fetch_add(1);
        postTransmission(id, runs);
        AckResult ack = waitForAck(seq, int(timeout_ms), id);
        const Transmission transmission = takeTransmission(id);
        if (!transmission.clean) {
            // A header that cannot be written ends the request; a payload that
            // cannot is left to the acknowledgement to decide.
            if (transmission.writes.first().accepted < 0) {
                checkAccepted(transmission.writes.first());
                return -1;
            }
            for (int i = 0; i < transmission.writes.size(); ++i) {
                if (checkAccepted(transmission.writes.at(i)))
                    confirmTransmission(transmission.writes.at(i), i);
            }
            if (ack == AckResult::None)
                ack = waitForAck(seq, int(timeout_ms), NoTransmission);
        }

        if (ack == AckResult::Positive) {
            m_seq.fetch_add(1);
            return 0;
        }
        LOG_WARNING << "Retry" << sent << "for seq" << seq << "timeout_ms" << timeout_ms;
        ++sent;
        if (sent >= transmissions) {
            LOG_WARNING << "max etry sent failed" << sent << "timeout_ms" << timeout_ms;
            return -1;
        }
    }
}

bool UsbVirtualSerial::waitForACK(quint32 seq, int timeoutMs)
{
    return waitForAck(seq, timeoutMs, NoTransmission) == AckResult::Positive;
}

UsbVirtualSerial::AckResult UsbVirtualSerial::waitForAck(quint32 seq, int timeoutMs, quint64 transmission)
{
    const int waitMs = qMax(0, timeoutMs);
    QDeadlineTimer deadline(waitMs); // until the write is known
    const QDeadlineTimer writeLimit(WriteCompletionTimeoutMs);
    QMutexLocker lock(&ackMutex);
    for (;;) {
        const auto entry = ackStatus.find(seq);
        if (entry != ackStatus.end()) {
            const bool positive = entry.value();
            ackStatus.erase(entry);
            if (positive) {
                LOG_INFO_JOINED("###wait success get seq ") << seq;
                return AckResult::Positive;
            }
            LOG_INFO_JOINED("###wait fail get seq ") << seq << "ackStatus.contains "
                    << ackStatus.contains(seq) << "ackStatus.value" << ackStatus.value(seq);
            return AckResult::Negative;
        }
        bool counting = true; // the deadline is the acknowledgement's own
        if (transmission != NoTransmission) {
            // The wait counts from the moment the frame went to the port,
            // however long the link's thread took to get to it.
            const auto written = m_transmissions.constFind(transmission);
            if (written != m_transmissions.constEnd()) {
                if (!written->clean)
                    return AckResult::None; // it needs its sender
                deadline = written->writtenAt + waitMs;
            } else {
                counting = false;
                if (deadline.hasExpired()) {
                    if (writeLimit.hasExpired())
                        return AckResult::None;
                    m_senderAwaitsWrite = true; // the link's thread wakes this wait when it writes
                    deadline = writeLimit;
                }
            }
        }
        if (counting && deadline.hasExpired())
            return AckResult::None;
        ackArrived.wait(&ackMutex, deadline);
    }
}

void UsbVirtualSerial::sendAckResponse(uint32_t seq)
{
    ar_protocol_t header = ProtocolFrame::makeHeader(AR_CMD_ACK, AR_MSGTYPE_ACK, AR_FMT_BINARY, 0, 0, seq);
    header.crc32 = crc32_calculate(reinterpret_cast<char *>(&header), sizeof(header));
    const QByteArray bytes = ProtocolFrame::headerBytes(header);
    onLinkThread([&] {
        quint64 unusedMark = 0;
        m_channel->write(bytes, &unusedMark);
    });
    LOG_INFO << "ack_header.command:" << header.command;
}

qint64 UsbVirtualSerial::rawWrite(const QByteArray &bytes)
{
    const QueuedWrite write = queueWrites({bytes}).first();
    if (checkAccepted(write)) {
        m_channel->waitUntilWritten(write.mark, RawWriteCompletionTimeoutMs);
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
    ProtocolFrame::crcTable(); // builds the process-wide table once
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
    if (!m_startSerialRecv.load() || !m_channel->isOpen())
        return;
    const QByteArray bytes = m_channel->readAll();
    if (!bytes.isEmpty())
        receiveBytes(bytes);
}

void UsbVirtualSerial::receiveBytes(const QByteArray &bytes)
{
    const QList<ReceivedFrame> frames = m_receiveBuffer.feed(bytes);
    for (const ReceivedFrame &frame : frames)
        dispatchFrame(frame);
}

// Each reply's content is stored and signalled before the acknowledgement is
// recorded, so a sender that wakes on the acknowledgement finds it in place.
void UsbVirtualSerial::dispatchFrame(const ReceivedFrame &frame)
{
    const char *payload = frame.payload.constData();
    const int available = frame.payload.size();
    switch (frame.header.command) {
    case 0: {
        const auto ack = ProtocolFrame::readRecord<ar_ack_info>(payload, available);
        if (ack.status != -1)
            return;
        handleReceivedPacket(&frame.header);
        ar_upgrade_status refused{};
        refused.status = UPGRATE_ERR_MAX;
        emit sig_sendUpgradeProcess(refused);
        return;
    }
    case AR_COMMAND_GET_ACTIVE:
        emit sig_reboot();
        break;
    case AR_COMMAND_FIND_DEVICE: {
        const auto info = ProtocolFrame::readRecord<ar_device_info>(payload, available);
        LOG_INFO << "[debug]deviceinfo.receiveMaxSize" << info.receiveMaxSize;
        LOG_INFO << "deviceinfo.hardwareVersion" << fieldText(info.hardwareVersion);
        LOG_INFO << "deviceinfo.serialNumber" << fieldText(info.serialNumber);
        LOG_INFO << "deviceinfo.firmwareInfo" << fieldText(info.firmwareInfo);
        LOG_INFO << "deviceinfo.cputemp" << info.cputemp;
        emit sig_SegLength(info.receiveMaxSize);
        receiveMaxSize.store(info.receiveMaxSize);
        setDeviceInfo(info.firmwareInfo, info.serialNumber, info.hardwareVersion, info.cputemp);
        m_setDeviceInfoFlag.store(true);
        break;
    }
    case AR_CMD_REMOTE_UPGRADE:
    case AR_CMD_SENDFILE_START:
    case AR_CMD_SENDFILE_DATA:
    case AR_COMMAND_SEND_TEXT: // the device acknowledges a console command plainly
        break;
    case AR_CMD_SENDFILE_END: {
        const auto info = ProtocolFrame::readRecord<ar_receive_date_info>(payload, available);
        emit sig_receiveDateInfo(info.status);
        LOG_INFO << " sig_receiveDateInfo end, receiveDateInfo.status " << info.status;
        break;
    }
    case AR_CMD_UPGRADE_STATUS:
        emit sig_sendUpgradeProcess(ProtocolFrame::readRecord<ar_upgrade_status>(payload, available));
        break;
    default:
        LOG_WARNING << "Unhandled command:" << frame.header.command;
        return;
    }
    handleReceivedPacket(&frame.header);
}

void UsbVirtualSerial::handleReceivedPacket(const ar_protocol_t *header)
{
    QMutexLocker lock(&ackMutex);
    const bool positive = header->type == AR_MSGTYPE_ACK && header->command != 0;
    ackStatus.insert(header->seq, positive);
    if (!positive)
        LOG_WARNING << "###ACK check failed for seq " << header->seq;
    ackArrived.wakeAll();
}

// ---- identity ------------------------------------------------------------------

void UsbVirtualSerial::setDeviceInfo(const char *firmwareInfo, const char *serialNumber,
                                     const char *hardwareVersion, int cputemp)
{
    QMutexLocker lock(&m_identityMutex);
    m_cputemp = cputemp;
    std::memcpy(m_firmwareInfo, firmwareInfo, sizeof(m_firmwareInfo));
    std::memcpy(m_serialNumber, serialNumber, sizeof(m_serialNumber));
    std::memcpy(m_hardwareVersion, hardwareVersion, sizeof(m_hardwareVersion));
    LOG_INFO << "set" << "m_cputemp " << m_cputemp << "m_firmwareInfo" << fieldText(m_firmwareInfo)
             << "m_serialNumber" << fieldText(m_serialNumber) << "m_hardwareVersion"
             << fieldText(m_hardwareVersion);
}

void UsbVirtualSerial::getDeviceInfo(char *firmwareInfo, char *serialNumber, char *hardwareVersion,
                                     int *cputemp)
{
    QMutexLocker lock(&m_identityMutex);
    std::memcpy(firmwareInfo, m_firmwareInfo, sizeof(m_firmwareInfo));
    std::memcpy(serialNumber, m_serialNumber, sizeof(m_serialNumber));
    std::memcpy(hardwareVersion, m_hardwareVersion, sizeof(m_hardwareVersion));
    *cputemp = m_cputemp;
    LOG_INFO << "get" << "m_cputemp " << m_cputemp;
    LOG_INFO << "get" << "cputemp " << *cputemp << "firmwareInfo" << fieldText(firmwareInfo, 64)
             << "serialNumber" << fieldText(serialNumber, 32) << "hardwareVersion"
             << fieldText(hardwareVersion, 32);
}

void UsbVirtualSerial::resetDeviceInfoPara()
{
    QMutexLocker lock(&m_identityMutex);
    m_cputemp = -100;
    std::memset(m_firmwareInfo, 0, sizeof(m_firmwareInfo));
    std::memset(m_serialNumber, 0, sizeof(m_serialNumber));
    std::memset(m_hardwareVersion, 0, sizeof(m_hardwareVersion));
    m_seq.store(0);
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

#include "portworker.h"

#include "deviceidentitystore.h"
#include "logging.h"
#include "protocolframe.h"
#include "serialportchannel.h"

#include <cstring>

PortWorker::PortWorker(DeviceIdentityStore *identity, AckRecorder recordAck)
    : m_channel(new SerialPortChannel(this))
    , m_assembler(FrameAssembler::Logging::Verbose)
    , m_identity(identity)
    , m_recordAck(std::move(recordAck))
{
    connect(m_channel, &SerialPortChannel::readyRead, this, &PortWorker::receivePass);
    connect(m_channel, &SerialPortChannel::portLost, this, &PortWorker::portClosed);
    connect(m_channel, &SerialPortChannel::written, this, &PortWorker::writeProgress);
}

// ---- the port ------------------------------------------------------------------

bool PortWorker::open(const QString &portName)
{
    LOG_INFO << "portName: " << portName;
    const bool opened = call([&] {
        // Half a frame from the previous connection would swallow the first
        // reply of this one.
        m_assembler.clear();
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

bool PortWorker::isOpen()
{
    struct State { bool exists, open, writable; };
    const State state = call([&] {
        return State{m_channel->exists(), m_channel->isOpen(), m_channel->isWritable()};
    });
    if (!state.exists)
        return false;
    LOG_INFO << "isOpen: " << state.open << "isWritable: " << state.writable;
    return state.open;
}

void PortWorker::close()
{
    call([&] {
        const bool wasOpen = m_channel->isOpen();
        LOG_INFO << "is open: " << wasOpen;
        if (!wasOpen)
            return;
        m_channel->close();
        LOG_INFO << "Serial close :" << m_channel->portName() << "is open:" << m_channel->isOpen();
        emit portClosed();
    });
}

bool PortWorker::isWritable()
{
    return call([&] { return m_channel->isWritable(); });
}

void PortWorker::startReception()
{
    m_receiving.store(true);
    // Bytes that arrived since the last pass are waiting in the port.
    QMetaObject::invokeMethod(this, [this] {
        m_discarding = false;
        receivePass();
    }, Qt::QueuedConnection);
}

// ---- writing -------------------------------------------------------------------

PortWorker::JoinedRuns PortWorker::joinRuns(const QList<QByteArray> &runs)
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
QList<PortWrite> PortWorker::writeRuns(const JoinedRuns &runs)
{
    quint64 mark = 0;
    const qint64 accepted = m_channel->write(runs.bytes, &mark);
    QList<PortWrite> writes;
    qint64 start = 0; // of the run within the joined bytes
    for (qint64 size : runs.sizes) {
        PortWrite write;
        write.size = size;
        if (accepted < 0) {
            write.error = m_channel->errorText();
        } else {
            write.accepted = qBound<qint64>(0, accepted - start, write.size);
            write.mark = mark - quint64(accepted) + quint64(start + write.accepted);
        }
        start += write.size;
        writes.append(write);
    }
    return writes;
}

QList<PortWrite> PortWorker::write(const QList<QByteArray> &runs)
{
    Q_ASSERT(QThread::currentThread() != thread()); // the waits that follow need the port's thread running
    const JoinedRuns joined = joinRuns(runs);
    return call([&] { return writeRuns(joined); });
}

void PortWorker::post(const QList<QByteArray> &runs, TransmissionDone done)
{
    QMetaObject::invokeMethod(this, [this, done = std::move(done), joined = joinRuns(runs)] {
        PortTransmission transmission;
        transmission.writes = writeRuns(joined);
        transmission.writtenAt = QDeadlineTimer::current();
        transmission.clean = true;
        for (const PortWrite &write : qAsConst(transmission.writes)) {
            transmission.clean = transmission.clean && write.accepted == write.size
                    && m_channel->waitUntilWritten(write.mark, 0);
        }
        if (transmission.clean) {
            for (int i = 0; i < transmission.writes.size(); ++i)
                logTransmission(transmission.writes.at(i), i, true);
        }
        done(transmission);
    }, Qt::QueuedConnection);
}

QList<PortWrite> PortWorker::writeFrame(const QByteArray &frame)
{
    Q_ASSERT(QThread::currentThread() == thread());
    JoinedRuns runs{frame, {ProtocolFrame::HeaderSize}};
    if (frame.size() > ProtocolFrame::HeaderSize)
        runs.sizes.append(frame.size() - ProtocolFrame::HeaderSize);
    return writeRuns(runs);
}

bool PortWorker::isWritten(quint64 mark)
{
    return m_channel->waitUntilWritten(mark, 0);
}

bool PortWorker::waitUntilWritten(quint64 mark, int timeoutMs)
{
    return m_channel->waitUntilWritten(mark, timeoutMs);
}

bool PortWorker::checkAccepted(const PortWrite &write)
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

void PortWorker::logTransmission(const PortWrite &write, int run, bool flushed)
{
    LOG_INFO << (run == 0 ? "sendHeader Data sent successfully:" : "Data sent successfully:")
             << write.accepted << "bytes written." << "ret " << int(flushed);
}

// ---- receiving -----------------------------------------------------------------

// With reception off the bytes are read all the same and dropped: left in
// the port, whatever the device sends would pile up without bound.
void PortWorker::receivePass()
{
    if (!m_channel->isOpen())
        return;
    const QByteArray bytes = m_channel->readAll();
    if (bytes.isEmpty())
        return;
    if (m_receiving.load()) {
        receiveBytes(bytes);
        return;
    }
    if (!m_discarding) {
        LOG_INFO << "reception off: dropping received bytes";
        m_discarding = true;
    }
    m_assembler.clear(); // what follows starts no frame with what was dropped
}

qint64 PortWorker::unreadBytes()
{
    return call([&] { return m_channel->bytesAvailable(); });
}

void PortWorker::receiveBytes(const QByteArray &bytes)
{
    const QList<ReceivedFrame> frames = m_assembler.feed(bytes);
    for (const ReceivedFrame &frame : frames)
        dispatchFrame(frame);
}

// Each reply's content is stored and signalled before the acknowledgement is
// recorded, so a sender that wakes on the acknowledgement finds it in place.
void PortWorker::dispatchFrame(const ReceivedFrame &frame)
{
    const char *payload = frame.payload.constData();
    const int available = frame.payload.size();
    switch (frame.header.command) {
    case 0: {
        const auto ack = ProtocolFrame::readRecord<ar_ack_info>(payload, available);
        if (ack.status != -1)
            return;
        m_recordAck(&frame.header);
        ar_upgrade_status refused{};
        refused.status = UPGRATE_ERR_MAX;
        emit upgradeStatus(refused);
        return;
    }
    case AR_COMMAND_GET_ACTIVE:
        emit rebootConfirmed();
        break;
    case AR_COMMAND_FIND_DEVICE:
        storeIdentity(ProtocolFrame::readRecord<ar_device_info>(payload, available));
        break;
    case AR_CMD_REMOTE_UPGRADE:
    case AR_CMD_SENDFILE_START:
    case AR_CMD_SENDFILE_DATA:
    case AR_COMMAND_SEND_TEXT: // the device acknowledges a console command plainly
        break;
    case AR_CMD_SENDFILE_END: {
        const auto info = ProtocolFrame::readRecord<ar_receive_date_info>(payload, available);
        emit fileVerdict(info.status);
        LOG_INFO << " sig_receiveDateInfo end, receiveDateInfo.status " << info.status;
        break;
    }
    case AR_CMD_UPGRADE_STATUS:
        emit upgradeStatus(ProtocolFrame::readRecord<ar_upgrade_status>(payload, available));
        break;
    default:
        LOG_WARNING << "Unhandled command:" << frame.header.command;
        return;
    }
    m_recordAck(&frame.header);
}

void PortWorker::storeIdentity(const ar_device_info &info)
{
    LOG_INFO << "[debug]deviceinfo.receiveMaxSize" << info.receiveMaxSize;
    LOG_INFO << "deviceinfo.hardwareVersion" << fixedFieldText(info.hardwareVersion, sizeof info.hardwareVersion);
    LOG_INFO << "deviceinfo.serialNumber" << fixedFieldText(info.serialNumber, sizeof info.serialNumber);
    LOG_INFO << "deviceinfo.firmwareInfo" << fixedFieldText(info.firmwareInfo, sizeof info.firmwareInfo);
    LOG_INFO << "deviceinfo.cputemp" << info.cputemp;
    emit segmentLength(info.receiveMaxSize);
    m_identity->setMaxSegment(info.receiveMaxSize);
    DeviceIdentityInfo identity;
    std::memcpy(identity.firmware.data(), info.firmwareInfo, identity.firmware.size());
    std::memcpy(identity.serial.data(), info.serialNumber, identity.serial.size());
    std::memcpy(identity.hardware.data(), info.hardwareVersion, identity.hardware.size());
    identity.cpuTemp = info.cputemp;
    m_identity->store(identity);
    m_identity->setReplyStored(true);
}

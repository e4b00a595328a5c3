#include "requestsender.h"

#include "logging.h"
#include "protocolframe.h"

#include <utility>

RequestSender::RequestSender(PortWorker *port, std::function<void()> reopenPort)
    : m_port(port)
    , m_reopenPort(std::move(reopenPort))
    , m_stream(new FrameStream(port, &m_seq))
{
}

std::unique_ptr<FrameQueue> RequestSender::openStream(unsigned int cmd, unsigned int retryNumber,
                                                      unsigned int timeoutMs, const Proceed &proceed)
{
    return m_stream->open(cmd, retryNumber, timeoutMs, proceed, m_reopenPort);
}

qint32 RequestSender::send(unsigned int cmd, quint16 type, quint16 format, quint16 userId,
                           const char *payload, unsigned int length, unsigned int retryNumber,
                           unsigned int timeoutMs, const Proceed &proceed)
{
    Q_ASSERT(QThread::currentThread() != m_port->thread()); // the wait needs the port's thread running
    const unsigned int transmissions = qMax(1u, retryNumber);
    const quint32 seq = m_seq.load();
    ar_protocol_t header = ProtocolFrame::makeHeader(cmd, type, format, userId, length, seq);
    const QByteArray body = payload ? QByteArray::fromRawData(payload, int(length)) : QByteArray();
    {
        // Nobody waits for an entry left from an earlier request; a late reply
        // to a failed request must not acknowledge this one.
        QMutexLocker lock(&ackMutex);
        ackStatus.clear();
    }

    for (unsigned int sent = 0;;) {
        if (proceed && !proceed()) {
            LOG_INFO << "request" << cmd << "seq" << seq << "stopped by its sender";
            return -1;
        }
        ProtocolFrame::seal(&header, sent, payload, payload ? length : 0);
        LOG_INFO << "sendHeader.command:" << cmd << "sendHeader.seq: " << seq
                 << "sendHeader.crc32: " << header.crc32 << "retryNumber" << retryNumber;

        QList<QByteArray> runs{ProtocolFrame::headerBytes(header)};
        if (payload)
            runs.append(body);
        // The frame is written on the port's thread while this one waits for
        // its acknowledgement: a clean write needs nothing more from here.
        const quint64 id = m_transmissionCount.fetch_add(1);
        postTransmission(id, runs);
        AckResult ack = waitForAck(seq, int(timeoutMs), id, proceed);
        const PortTransmission transmission = takeTransmission(id);
        if (!transmission.clean && !isAbandoned(ack)) {
            if (!settleTransmission(transmission))
                return -1;
            if (ack == AckResult::None)
                ack = waitForAck(seq, int(timeoutMs), NoTransmission, proceed);
        }

        if (ack == AckResult::Positive) {
            m_seq.fetch_add(1);
            return 0;
        }
        if (isAbandoned(ack)) {
            LOG_INFO << "seq" << seq << "no longer awaited:"
                     << (ack == AckResult::Stopped ? "stopped by its sender" : "the port closed");
            return -1;
        }
        LOG_WARNING << "Retry" << sent << "for seq" << seq << "timeout_ms" << timeoutMs;
        ++sent;
        if (sent >= transmissions) {
            LOG_WARNING << "max etry sent failed" << sent << "timeout_ms" << timeoutMs;
            return -1;
        }
    }
}

// A header that cannot be written ends the request; a payload that cannot is
// left to the acknowledgement to decide.
bool RequestSender::settleTransmission(const PortTransmission &transmission)
{
    if (transmission.writes.first().accepted < 0) {
        PortWorker::checkAccepted(transmission.writes.first());
        return false;
    }
    for (int i = 0; i < transmission.writes.size(); ++i) {
        if (PortWorker::checkAccepted(transmission.writes.at(i)))
            confirmTransmission(transmission.writes.at(i), i);
    }
    return true;
}

void RequestSender::postTransmission(quint64 id, const QList<QByteArray> &runs)
{
    m_port->post(runs, [this, id](const PortTransmission &transmission) {
        QMutexLocker lock(&ackMutex);
        m_transmissions.insert(id, transmission);
        // A clean transmission leaves the sender to its acknowledgement,
        // unless it has been waiting for the write to begin counting.
        if (!transmission.clean || std::exchange(m_senderAwaitsWrite, false))
            ackArrived.wakeAll();
    });
}

PortTransmission RequestSender::takeTransmission(quint64 id)
{
    QDeadlineTimer deadline(WriteCompletionTimeoutMs);
    QMutexLocker lock(&ackMutex);
    while (!m_transmissions.contains(id)) {
        if (!ackArrived.wait(&ackMutex, deadline) && !m_transmissions.contains(id)) {
            PortTransmission lost; // the port's thread never got to it
            lost.writes.append(PortWrite{});
            lost.writes.first().error = QStringLiteral("the write was not carried out in time");
            return lost;
        }
    }
    return m_transmissions.take(id);
}

void RequestSender::confirmTransmission(const PortWrite &write, int run)
{
    const bool flushed = m_port->waitUntilWritten(write.mark, WriteCompletionTimeoutMs);
    PortWorker::logTransmission(write, run, flushed);
    if (!flushed) {
        LOG_INFO << "Data sent isWritable:" << int(m_port->isWritable());
        m_reopenPort();
    }
}

bool RequestSender::waitForAck(quint32 seq, int timeoutMs)
{
    return waitForAck(seq, timeoutMs, NoTransmission) == AckResult::Positive;
}

RequestSender::AckResult RequestSender::waitForAck(quint32 seq, int timeoutMs, quint64 transmission,
                                                   const Proceed &proceed)
{
    const int waitMs = qMax(0, timeoutMs);
    QDeadlineTimer deadline(waitMs); // until the write is known
    const QDeadlineTimer writeLimit(WriteCompletionTimeoutMs);
    QMutexLocker lock(&ackMutex);
    const quint64 closures = m_portClosures;
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
        // Looked at under the lock wakeWaits() and portClosed() take: a
        // change made just before they wake is never missed.
        if (proceed && !proceed())
            return AckResult::Stopped;
        if (m_portClosures != closures)
            return AckResult::PortClosed;
        bool counting = true; // the deadline is the acknowledgement's own
        if (transmission != NoTransmission) {
            // The wait counts from the moment the frame went to the port,
            // however long the port's thread took to get to it.
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
                    m_senderAwaitsWrite = true; // the port's thread wakes this wait when it writes
                    deadline = writeLimit;
                }
            }
        }
        if (counting && deadline.hasExpired())
            return AckResult::None;
        ackArrived.wait(&ackMutex, deadline);
    }
}

void RequestSender::recordAck(const ar_protocol_t *header)
{
    if (m_stream->acknowledge(*header))
        return;
    QMutexLocker lock(&ackMutex);
    const bool positive = header->type == AR_MSGTYPE_ACK && header->command != 0;
    ackStatus.insert(header->seq, positive);
    if (!positive)
        LOG_WARNING << "###ACK check failed for seq " << header->seq;
    ackArrived.wakeAll();
}

void RequestSender::wakeWaits()
{
    m_stream->wakeSender();
    QMutexLocker lock(&ackMutex);
    ackArrived.wakeAll();
}

void RequestSender::portClosed()
{
    m_stream->portClosed();
    QMutexLocker lock(&ackMutex);
    ++m_portClosures;
    ackArrived.wakeAll();
}

#include "framestream.h"

#include "logging.h"
#include "protocolframe.h"

#include <QDeadlineTimer>
#include <cstring>
#include <utility>

// What the sender holds: its frames are numbered and sealed here, on its
// own thread, so the port's thread only writes them.
class FrameStream::Queue : public FrameQueue
{
public:
    Queue(FrameStream &stream, quint64 generation, unsigned command, quint32 firstSeq,
          std::function<void()> writeStuck)
        : m_stream(stream)
        , m_generation(generation)
        , m_command(command)
        , m_nextSeq(firstSeq)
        , m_writeStuck(std::move(writeStuck))
    {
    }
    ~Queue() override { m_stream.close(m_generation); }

    void append(const QByteArray &payload) override
    {
        const char *data = payload.isEmpty() ? nullptr : payload.constData();
        ar_protocol_t header = ProtocolFrame::makeHeader(m_command, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                                         quint32(payload.size()), m_nextSeq++);
        ProtocolFrame::seal(&header, 0, data, quint32(payload.size()));
        m_stream.append(m_generation, ProtocolFrame::headerBytes(header) + payload);
    }

    bool waitAcknowledged(qint64 count) override
    {
        const End end = m_stream.waitAcknowledged(m_generation, count);
        if (end == End::WriteStuck && m_writeStuck)
            std::exchange(m_writeStuck, nullptr)();
        return end == End::None;
    }

private:
    FrameStream &m_stream;
    const quint64 m_generation;
    const unsigned m_command;
    quint32 m_nextSeq;
    std::function<void()> m_writeStuck;
};

FrameStream::FrameStream(PortWorker *port, std::atomic<quint32> *sequence)
    : QObject(port)
    , m_port(port)
    , m_sequence(sequence)
    , m_timer(this)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &FrameStream::timedOut);
    connect(port, &PortWorker::writeProgress, this, &FrameStream::written);
}

// ---- the sender's side -------------------------------------------------------------

std::unique_ptr<FrameQueue> FrameStream::open(unsigned command, unsigned transmissions, unsigned timeoutMs,
                                              Proceed proceed, std::function<void()> writeStuck)
{
    QMutexLocker lock(&m_mutex);
    ++m_generation;
    m_open = true;
    m_settings = Settings{command, qMax(1u, transmissions), timeoutMs, std::move(proceed)};
    m_waiting.clear();
    m_portIdle = true;
    m_acknowledged = 0;
    m_awaited = 0;
    m_end = End::None;
    return std::make_unique<Queue>(*this, m_generation, command, m_sequence->load(), std::move(writeStuck));
}

void FrameStream::append(quint64 generation, QByteArray frame)
{
    QMutexLocker lock(&m_mutex);
    if (!isLive(generation))
        return;
    m_waiting.push_back(std::move(frame));
    if (!std::exchange(m_portIdle, false))
        return;
    QMetaObject::invokeMethod(this, [this, generation] { takeNext(generation); }, Qt::QueuedConnection);
}

FrameStream::End FrameStream::waitAcknowledged(quint64 generation, qint64 count)
{
    QMutexLocker lock(&m_mutex);
    if (generation != m_generation)
        return End::Stopped;
    // The port's thread decides every frame within its transmissions; a
    // stream that stands still past that has lost its port's thread.
    const auto frameLimit = [this] {
        return QDeadlineTimer(qint64(m_settings.transmissions)
                              * (m_settings.timeoutMs + PortWorker::WriteCompletionTimeoutMs));
    };
    QDeadlineTimer limit = frameLimit();
    qint64 seen = m_acknowledged;
    m_awaited = count;
    for (;;) {
        if (m_acknowledged >= count)
            return End::None;
        if (m_end != End::None)
            return m_end;
        if (m_settings.proceed && !m_settings.proceed()) {
            LOG_INFO << "request" << m_settings.command << "stream stopped by its sender after"
                     << m_acknowledged << "frames";
            m_end = End::Stopped;
            return m_end;
        }
        if (m_acknowledged != seen) {
            seen = m_acknowledged;
            limit = frameLimit();
        } else if (limit.hasExpired()) {
            LOG_CRITICAL << "the port's thread decided no frame in time";
            m_end = End::Failed;
            return m_end;
        }
        m_progress.wait(&m_mutex, limit);
    }
}

void FrameStream::close(quint64 generation)
{
    QMutexLocker lock(&m_mutex);
    if (generation != m_generation)
        return;
    m_open = false;
    m_waiting.clear();
    // The frame in flight is dropped by the next event that finds it stale;
    // its timer is stopped here, on the port's thread.
    QMetaObject::invokeMethod(this, [this, generation] {
        if (m_flightGeneration == generation) {
            m_timer.stop();
            m_phase = Phase::Idle;
        }
    }, Qt::QueuedConnection);
}

void FrameStream::wakeSender()
{
    QMutexLocker lock(&m_mutex);
    m_progress.wakeAll();
}

// ---- the port's side ---------------------------------------------------------------

bool FrameStream::isLive(quint64 generation) const
{
    return m_open && generation == m_generation && m_end == End::None;
}

void FrameStream::takeNext(quint64 generation)
{
    {
        QMutexLocker lock(&m_mutex);
        if (!isLive(generation))
            return;
        if (m_waiting.empty()) {
            m_portIdle = true;
            return;
        }
        m_frame = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (m_flightGeneration != generation) {
            m_flightGeneration = generation;
            m_flight = m_settings;
        }
    }
    m_frameSeq = ProtocolFrame::decodeHeader(m_frame.constData()).seq;
    m_sent = 0;
    transmit();
}

void FrameStream::transmit()
{
    if (m_flight.proceed && !m_flight.proceed()) {
        LOG_INFO << "request" << m_flight.command << "seq" << m_frameSeq << "stopped by its sender";
        finish(End::Stopped);
        return;
    }
    ar_protocol_t header = ProtocolFrame::decodeHeader(m_frame.constData());
    const quint32 payloadLength = quint32(m_frame.size() - ProtocolFrame::HeaderSize);
    if (m_sent > 0) {
        ProtocolFrame::seal(&header, m_sent, payloadLength ? m_frame.constData() + ProtocolFrame::HeaderSize : nullptr,
                            payloadLength);
        std::memcpy(m_frame.data(), &header, sizeof header);
    }
    LOG_INFO << "sendHeader.command:" << m_flight.command << "sendHeader.seq: " << m_frameSeq
             << "sendHeader.crc32: " << header.crc32 << "retryNumber" << m_flight.transmissions;
    m_writes = m_port->writeFrame(m_frame);
    if (m_writes.first().accepted < 0) {
        PortWorker::checkAccepted(m_writes.first());
        finish(End::Failed); // not even the header went out
        return;
    }
    bool whole = true;
    for (const PortWrite &write : qAsConst(m_writes))
        whole = PortWorker::checkAccepted(write) && whole;
    if (!whole) {
        awaitAck(); // what did go out may still be acknowledged
        return;
    }
    m_phase = Phase::Writing;
    m_timer.start(PortWorker::WriteCompletionTimeoutMs);
    written();
}

// The acknowledgement's time counts from when the frame left the port.
void FrameStream::awaitAck()
{
    m_phase = Phase::AwaitingAck;
    m_timer.start(int(m_flight.timeoutMs));
}

void FrameStream::written()
{
    if (m_phase != Phase::Writing || !m_port->isWritten(m_writes.last().mark))
        return;
    for (int i = 0; i < m_writes.size(); ++i)
        PortWorker::logTransmission(m_writes.at(i), i, true);
    awaitAck();
}

bool FrameStream::acknowledge(const ar_protocol_t &header)
{
    if (m_phase == Phase::Idle || header.seq != m_frameSeq)
        return false;
    {
        QMutexLocker lock(&m_mutex);
        if (!isLive(m_flightGeneration)) {
            m_timer.stop();
            m_phase = Phase::Idle;
            return false;
        }
    }
    if (header.type != AR_MSGTYPE_ACK || header.command == 0) {
        LOG_WARNING << "###ACK check failed for seq " << header.seq;
        LOG_INFO_JOINED("###wait fail get seq ") << header.seq;
        retryOrFail();
        return true;
    }
    LOG_INFO_JOINED("###wait success get seq ") << header.seq;
    m_timer.stop();
    m_phase = Phase::Idle;
    m_sequence->fetch_add(1);
    bool awaited = false;
    {
        QMutexLocker lock(&m_mutex);
        awaited = ++m_acknowledged >= m_awaited;
    }
    // Woken with the lock free, the sender does not stop on it at once.
    if (awaited)
        m_progress.wakeAll();
    takeNext(m_flightGeneration);
    return true;
}

void FrameStream::timedOut()
{
    {
        QMutexLocker lock(&m_mutex);
        if (!isLive(m_flightGeneration)) {
            m_phase = Phase::Idle;
            return;
        }
    }
    if (m_phase == Phase::Writing) {
        LOG_INFO << "Data sent isWritable:" << int(m_port->isWritable());
        finish(End::WriteStuck);
        return;
    }
    if (m_phase == Phase::AwaitingAck)
        retryOrFail();
}

void FrameStream::retryOrFail()
{
    LOG_WARNING << "Retry" << m_sent << "for seq" << m_frameSeq << "timeout_ms" << m_flight.timeoutMs;
    if (++m_sent >= m_flight.transmissions) {
        LOG_WARNING << "max etry sent failed" << m_sent << "timeout_ms" << m_flight.timeoutMs;
        finish(End::Failed);
        return;
    }
    transmit();
}

void FrameStream::portClosed()
{
    QMutexLocker lock(&m_mutex);
    if (m_open && m_end == End::None) {
        LOG_INFO << "seq" << m_frameSeq << "no longer awaited: the port closed";
        m_end = End::PortClosed;
        m_progress.wakeAll();
    }
    m_timer.stop();
    m_phase = Phase::Idle;
}

void FrameStream::finish(End end)
{
    m_timer.stop();
    m_phase = Phase::Idle;
    QMutexLocker lock(&m_mutex);
    if (isLive(m_flightGeneration)) {
        m_end = end;
        m_progress.wakeAll();
    }
}

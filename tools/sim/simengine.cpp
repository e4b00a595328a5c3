#include "simengine.h"

#include "logging.h"
#include "protocolframe.h"
#include "simstate.h"

#include <QMutexLocker>
#include <QThread>
#include <cstring>
#include <thread>

namespace {
// A device reboots right after its acknowledgement has left; the simulator
// waits until the program has read it, but no longer than a reader that
// never reads could hold it up. Bytes the master has written reach the
// program's side a little later (the kernel hands them over on a work
// queue, late on a busy machine): that side counts as read only once it has
// stayed empty for a while, or a reboot would drop an answer in flight.
constexpr int RebootPollMs = 5;
constexpr int AckReadLimitMs = 1000;
constexpr int DrainSettleMs = 50;
// A negative acknowledgement carries no command of its own.
constexpr quint32 RefusalCommand = 0;
// Bytes out of the link model are handed to this thread this much before
// they are due and it waits out the rest: about what a wake-up of this
// thread by another costs on a small virtual machine.
constexpr std::chrono::microseconds LinkHandOverLead(50);

SimFrameRecord recordOf(const ReceivedFrame &frame)
{
    const ar_protocol_t &h = frame.header;
    const bool crcValid = ProtocolFrame::crcMatches(h, frame.payload.constData(),
                                                    quint32(frame.payload.size()));
    return {h.type, h.command, h.seq, h.retry, h.length, frame.payload, crcValid};
}
} // namespace

SimEngine::SimEngine(SimState *state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_channel(this)
    , m_replies(this)
    , m_rebootPoll(this)
    , m_comeBack(this)
{
    setLinkModel(LinkModel::none());
    connect(&m_channel, &PtyChannel::received, this, &SimEngine::arrive);
    connect(&m_replies, &ReplyQueue::due, this, &SimEngine::send);
    m_rebootPoll.setInterval(RebootPollMs);
    connect(&m_rebootPoll, &QTimer::timeout, this, &SimEngine::checkRebootReady);
    m_comeBack.setSingleShot(true);
    connect(&m_comeBack, &QTimer::timeout, this, &SimEngine::comeBack);
}

bool SimEngine::open(const QString &linkPath, QString *error)
{
    m_comeBack.stop();
    m_rebootPoll.stop();
    removePort();
    if (!m_link.setPath(linkPath, error))
        return false;
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->linkPath = m_link.path();
    }
    return createPort(error);
}

void SimEngine::vanish()
{
    m_comeBack.stop();
    m_rebootPoll.stop();
    if (m_channel.isOpen())
        removePort();
}

void SimEngine::reappear()
{
    if (m_channel.isOpen())
        return;
    m_comeBack.stop();
    QString error;
    if (!createPort(&error))
        LOG_WARNING << "device simulator: cannot reappear:" << error;
}

void SimEngine::setLinkModel(const LinkModel &model)
{
    // The old lines' threads end before the epoch moves on.
    m_toDevice.reset();
    m_toProgram.reset();
    dropLinkTraffic();
    m_toDevice = std::make_unique<DelayLine>(model, deliverTo(&SimEngine::receive), LinkHandOverLead);
    m_toProgram = std::make_unique<DelayLine>(model, deliverTo(&SimEngine::deliverReply), LinkHandOverLead);
    // Models come from DeviceSimulator, on this thread, which waits out the lead.
    if (!model.isNone())
        DelayLine::sharpenTimers();
}

DelayLine::Deliver SimEngine::deliverTo(void (SimEngine::*handler)(const QByteArray &))
{
    const bool toDevice = handler == &SimEngine::receive;
    return [this, handler, toDevice](const QByteArray &bytes, DelayLine::Clock::time_point due) {
        // A line without a model delivers at once, on this thread.
        if (QThread::currentThread() == thread()) {
            (this->*handler)(bytes);
            return;
        }
        const quint64 epoch = m_linkEpoch;
        QMetaObject::invokeMethod(
            this,
            [this, handler, toDevice, bytes, due, epoch] {
                if (epoch != m_linkEpoch)
                    return;
                std::this_thread::sleep_until(due);
                emit linkLate(toDevice,
                              std::chrono::duration<double, std::micro>(DelayLine::Clock::now() - due).count());
                (this->*handler)(bytes);
            },
            Qt::QueuedConnection);
    };
}

void SimEngine::dropLinkTraffic()
{
    // Lines deliver nothing once cleared, so what is queued from before
    // carries the old epoch.
    if (m_toDevice)
        m_toDevice->clear();
    if (m_toProgram)
        m_toProgram->clear();
    ++m_linkEpoch;
    m_repliesOnLink = 0;
}

void SimEngine::arrive(const QByteArray &bytes)
{
    emit readFromProgram();
    m_toDevice->push(bytes);
}

void SimEngine::send(const QByteArray &bytes)
{
    ++m_repliesOnLink;
    m_toProgram->push(bytes);
}

void SimEngine::deliverReply(const QByteArray &bytes)
{
    --m_repliesOnLink;
    m_channel.write(bytes);
    emit wroteToProgram();
}

void SimEngine::receive(const QByteArray &bytes)
{
    for (const ReceivedFrame &frame : m_assembler.feed(bytes))
        handle(frame);
}

void SimEngine::handle(const ReceivedFrame &frame)
{
    const SimFrameRecord record = recordOf(frame);
    QByteArray reply;
    ReplyShape shape;
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->frames.append(record);
        reply = replyTo(frame);
        ReplyShape &current = m_state->script.shape();
        if (!reply.isEmpty() && current.corruptLengths > 0) {
            --current.corruptLengths;
            corruptLength(&reply);
        }
        shape = current;
    }
    // Told before the answer goes out: whoever acts on a frame acts before
    // the program can hear the reply to it.
    emit frameReceived(record);
    if (!reply.isEmpty())
        m_replies.schedule(ReplyShaping::pieces(reply, shape), shape.delayMs,
                           ReplyShaping::SplitGapMs);
}

QByteArray SimEngine::replyTo(const ReceivedFrame &frame)
{
    // A device on its way down answers nothing more.
    if (frame.header.type != AR_MSGTYPE_REQUEST || m_rebootPoll.isActive())
        return QByteArray();
    const quint32 seq = frame.header.seq + quint32(m_state->script.shape().seqOffset);
    switch (m_state->script.dispose(frame.header.command)) {
    case SimScript::Disposition::Ignore:
        return QByteArray();
    case SimScript::Disposition::Refuse:
        return ProtocolFrame::encode(RefusalCommand, AR_MSGTYPE_ACK, seq, 0,
                                     DeviceModel::refusal());
    case SimScript::Disposition::Answer:
        break;
    }
    const DeviceModel::Reply answer = m_model.respond(frame, *m_state);
    if (answer.reboot) {
        m_rebootMode = answer.rebootMode;
        m_ackWritten.start();
        m_drained.invalidate();
        m_rebootPoll.start();
    }
    return ProtocolFrame::encode(frame.header.command, AR_MSGTYPE_ACK, seq, 0, answer.payload);
}

// A length field no device sends; the CRC is left as it was.
void SimEngine::corruptLength(QByteArray *reply)
{
    const quint32 impossible = 0x7FFFFFF0u;
    std::memcpy(reply->data() + offsetof(ar_protocol_t, length), &impossible, sizeof(impossible));
}

void SimEngine::checkRebootReady()
{
    // The limit counts from the moment the acknowledgement has been written.
    if (!m_replies.isEmpty() || m_repliesOnLink > 0) {
        m_ackWritten.start();
        return;
    }
    if (!m_channel.isDrained())
        m_drained.invalidate();
    else if (!m_drained.isValid())
        m_drained.start();
    if ((m_drained.isValid() && m_drained.hasExpired(DrainSettleMs)) || m_ackWritten.hasExpired(AckReadLimitMs))
        reboot();
}

void SimEngine::reboot()
{
    m_rebootPoll.stop();
    int delayMs = 0;
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->rebootModes.append(m_rebootMode);
        delayMs = m_state->script.rebootDelayMs();
    }
    emit rebooting(m_rebootMode);
    removePort();
    m_comeBack.start(delayMs);
}

void SimEngine::comeBack()
{
    QString error;
    if (createPort(&error))
        emit rebooted(m_channel.slavePath());
    else
        LOG_WARNING << "device simulator: cannot come back after reboot:" << error;
}

bool SimEngine::createPort(QString *error)
{
    if (!m_channel.open(error))
        return false;
    if (!m_link.pointAt(m_channel.slavePath(), error)) {
        m_channel.close();
        return false;
    }
    const QString slavePath = m_channel.slavePath();
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->slavePath = slavePath;
    }
    emit appeared(slavePath);
    return true;
}

void SimEngine::removePort()
{
    const bool wasPresent = m_channel.isOpen();
    // Link and path go first, so whoever sees the port fail finds the device gone.
    m_link.remove();
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->slavePath.clear();
        m_model.powerCycle(*m_state);
    }
    m_replies.clear();
    dropLinkTraffic();
    m_channel.close();
    m_assembler.clear();
    if (wasPresent)
        emit vanished();
}

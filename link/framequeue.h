#ifndef FRAMEQUEUE_H
#define FRAMEQUEUE_H

#include <QByteArray>
#include <QList>
#include <functional>

class DeviceLink;

// Frames of one request sent in order, each once the one before it is
// acknowledged, each transmitted and timed as a request is. The sender
// queues payloads ahead and follows the acknowledged count; letting go of
// the queue ends it, and nothing queued after that is transmitted.
class FrameQueue
{
public:
    virtual ~FrameQueue() = default;

    // Queues the next frame's payload (empty: a frame without one).
    virtual void append(const QByteArray &payload) = 0;
    // Waits until `count` frames in all are acknowledged: false when a frame
    // failed, the sender's run flag went false or the port closed first.
    virtual bool waitAcknowledged(qint64 count) = 0;
};

// The plain queue: each frame goes out as a request of its own, on the
// sender's thread, once it is waited for.
class RequestQueue : public FrameQueue
{
public:
    using Proceed = std::function<bool()>;

    RequestQueue(DeviceLink &link, unsigned command, unsigned transmissions, unsigned timeoutMs, Proceed proceed);

    void append(const QByteArray &payload) override { m_waiting.append(payload); }
    bool waitAcknowledged(qint64 count) override;

private:
    DeviceLink &m_link;
    const unsigned m_command;
    const unsigned m_transmissions;
    const unsigned m_timeoutMs;
    const Proceed m_proceed;
    QList<QByteArray> m_waiting;
    qint64 m_acknowledged = 0;
    bool m_failed = false;
};

#endif // FRAMEQUEUE_H

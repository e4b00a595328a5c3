#ifndef REQUESTSENDER_H
#define REQUESTSENDER_H

#include "ARNetType.h"
#include "framestream.h"
#include "portworker.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <functional>

// Sends requests and waits for their acknowledgements: numbers them, keeps
// the acknowledgement table the receive path fills, transmits a request again
// until it is acknowledged or its transmissions are used up. Runs on the
// caller's thread, never on the port's.
class RequestSender
{
public:
    static constexpr int WriteCompletionTimeoutMs = PortWorker::WriteCompletionTimeoutMs;

    // `reopenPort` is called when a write does not reach the device in time.
    RequestSender(PortWorker *port, std::function<void()> reopenPort);

    // The caller's run flag: once it is false, a request starts no further
    // transmission and stops waiting (wakeWaits() makes a waiting one look).
    using Proceed = std::function<bool()>;

    // Sends request `cmd` and waits for its acknowledgement, transmitting it
    // up to `retryNumber` times (0 counts as 1) with `timeoutMs` each.
    // Returns 0 when acknowledged, -1 otherwise; -1 at once when `proceed`
    // turns false or the port closes during a wait.
    qint32 send(unsigned int cmd, quint16 type, quint16 format, quint16 userId, const char *payload,
                unsigned int length, unsigned int retryNumber, unsigned int timeoutMs,
                const Proceed &proceed = Proceed());
    // Data frames of request `cmd` written back to back on the port's
    // thread (see FrameStream), each transmitted and timed as send() does.
    std::unique_ptr<FrameQueue> openStream(unsigned int cmd, unsigned int retryNumber, unsigned int timeoutMs,
                                           const Proceed &proceed);
    // True if a positive acknowledgement for `seq` arrives within `timeoutMs`;
    // false at once on a negative one.
    bool waitForAck(quint32 seq, int timeoutMs);
    // The receive path's record of one reply.
    void recordAck(const ar_protocol_t *header);
    // Makes every waiting request look at its caller's run flag again.
    void wakeWaits();
    // The port closed: nothing sent before can be acknowledged any more.
    void portClosed();

    quint32 sequenceNumber() const { return m_seq.load(); }
    void restartSequence() { m_seq.store(0); }

private:
    // Stopped: the caller's run flag went false; PortClosed: the port closed.
    enum class AckResult { Positive, Negative, None, Stopped, PortClosed };
    // Nothing more is sent or awaited for the request.
    static bool isAbandoned(AckResult ack) { return ack == AckResult::Stopped || ack == AckResult::PortClosed; }
    static constexpr quint64 NoTransmission = ~quint64(0);

    // Hands the frame to the port; the outcome is kept as transmission `id`,
    // and one that did not go out cleanly wakes the sender.
    void postTransmission(quint64 id, const QList<QByteArray> &runs);
    PortTransmission takeTransmission(quint64 id);
    // Settles a transmission that did not go out cleanly: false when its
    // header could not be written at all.
    bool settleTransmission(const PortTransmission &transmission);
    // Waits for the acknowledgement of `seq`, `timeoutMs` from the moment
    // transmission `transmission` went to the port; one that did not go out
    // cleanly ends the wait early with None.
    AckResult waitForAck(quint32 seq, int timeoutMs, quint64 transmission,
                         const Proceed &proceed = Proceed());
    // Waits until a run has reached the device; one that does not in time
    // makes the link reopen the port.
    void confirmTransmission(const PortWrite &write, int run);

    PortWorker *m_port;
    std::function<void()> m_reopenPort;
    std::atomic<quint32> m_seq{0};
    FrameStream *m_stream; // a child of the port worker, on its thread

    QMutex ackMutex;
    QWaitCondition ackArrived;
    QMap<quint32, bool> ackStatus;
    QHash<quint64, PortTransmission> m_transmissions; // outcomes not yet taken by their senders
    bool m_senderAwaitsWrite = false;                  // a sender's wait passed before its write
    quint64 m_portClosures = 0;                        // guarded by ackMutex
    std::atomic<quint64> m_transmissionCount{0};
};

#endif // REQUESTSENDER_H

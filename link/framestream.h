#ifndef FRAMESTREAM_H
#define FRAMESTREAM_H

#include "ARNetType.h"
#include "framequeue.h"
#include "portworker.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QTimer>
#include <QWaitCondition>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

// Frames written back to back on the port's thread: the next one goes out
// as the acknowledgement of the one before it is read, with no other thread
// in between. Each is transmitted, timed and retransmitted as a request is
// (RequestSender), with the same log lines; the sender's thread only keeps
// the queue filled and follows the acknowledged count. One stream at a time.
class FrameStream : public QObject
{
    Q_OBJECT

public:
    using Proceed = std::function<bool()>;
    // How a stream ended before its frames were all acknowledged.
    enum class End { None, Failed, Stopped, PortClosed, WriteStuck };

    // A child of `port`, so it lives on the port's thread. `sequence` is the
    // link's sequence counter: each acknowledged frame moves it on.
    FrameStream(PortWorker *port, std::atomic<quint32> *sequence);

    // The sender's side (any thread but the port's). `writeStuck` is called
    // on the sender's thread when a frame did not reach the device in time.
    std::unique_ptr<FrameQueue> open(unsigned command, unsigned transmissions, unsigned timeoutMs,
                                     Proceed proceed, std::function<void()> writeStuck);
    // Makes a waiting sender look at its run flag again.
    void wakeSender();

    // The port's side, on its thread: true when `header` acknowledged the
    // frame in flight (it is then the stream's, not a request's).
    bool acknowledge(const ar_protocol_t &header);
    void portClosed();

private:
    class Queue;
    enum class Phase { Idle, Writing, AwaitingAck };
    struct Settings
    {
        unsigned command = 0;
        unsigned transmissions = 1;
        unsigned timeoutMs = 0;
        Proceed proceed;
    };

    // The sender's side.
    void append(quint64 generation, QByteArray frame);
    End waitAcknowledged(quint64 generation, qint64 count);
    void close(quint64 generation);

    // The port's side.
    bool isLive(quint64 generation) const; // with m_mutex held
    void takeNext(quint64 generation);
    void transmit();
    void awaitAck();
    void written();
    void timedOut();
    void retryOrFail();
    void finish(End end);

    PortWorker *m_port;
    std::atomic<quint32> *m_sequence;

    QMutex m_mutex;              // guards what the two sides share, below
    QWaitCondition m_progress;
    quint64 m_generation = 0;    // of the last stream opened
    bool m_open = false;         // and it is open still
    Settings m_settings;
    std::deque<QByteArray> m_waiting; // sealed frames the port has not taken yet
    bool m_portIdle = true;      // the port waits for the next frame
    qint64 m_acknowledged = 0;
    qint64 m_awaited = 0;        // the count the sender waits for
    End m_end = End::None;

    // The port's thread only: the frame in flight.
    quint64 m_flightGeneration = 0; // the stream it belongs to
    Settings m_flight;
    QByteArray m_frame;          // header and payload
    quint32 m_frameSeq = 0;
    unsigned m_sent = 0;         // its transmissions so far
    QList<PortWrite> m_writes;   // of its last transmission
    Phase m_phase = Phase::Idle;
    QTimer m_timer;
};

#endif // FRAMESTREAM_H

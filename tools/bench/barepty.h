#ifndef BAREPTY_H
#define BAREPTY_H

#include "pseudoterminal.h"

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <mutex>
#include <thread>

// The floor any link over a pty can reach: a pty pair with a device thread on
// the master that reads each whole frame (header and payload) and answers it
// with a bare acknowledgement frame, and a client on the slave, opened raw and
// blocking, that writes a frame and reads the answer. No event loop, no
// thread hand-over, no logging.
class BarePtyPair
{
public:
    BarePtyPair() = default;
    ~BarePtyPair();
    BarePtyPair(const BarePtyPair &) = delete;
    BarePtyPair &operator=(const BarePtyPair &) = delete;

    bool start(QString *error);

    // Writes one sealed frame and waits for its acknowledgement.
    bool roundTrip(const QByteArray &frame);

private:
    void serve();
    void stop();

    PseudoTerminal m_pty;
    int m_client = -1;
    int m_stopPipe[2] = {-1, -1};
    std::thread m_device;
};

// The same exchange carried out by a thread of its own, which the caller hands
// each frame to and waits for: one hand-over there and one back per frame,
// with nothing else done. It is the floor for any link whose port is confined
// to a thread of its own, as the program's is.
class RelayedPtyPair
{
public:
    explicit RelayedPtyPair(BarePtyPair *pair);
    ~RelayedPtyPair();
    RelayedPtyPair(const RelayedPtyPair &) = delete;
    RelayedPtyPair &operator=(const RelayedPtyPair &) = delete;

    bool roundTrip(const QByteArray &frame);

private:
    void relay();

    BarePtyPair *m_pair;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const QByteArray *m_frame = nullptr; // handed over, not yet taken
    bool m_answered = false;
    bool m_succeeded = false;
    bool m_stopping = false;
    std::thread m_thread;
};

#endif // BAREPTY_H

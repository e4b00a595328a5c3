#ifndef BAREPTY_H
#define BAREPTY_H

#include "pseudoterminal.h"

#include <QByteArray>
#include <QString>
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

#endif // BAREPTY_H

#include "barepty.h"

#include "frameassembler.h"
#include "protocolframe.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {
constexpr int WaitForever = -1;

QString systemError(const char *call)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// Waits until `fd` is ready for `events`; false when `stopFd` (ignored when
// negative) becomes readable first.
bool waitReady(int fd, short events, int stopFd)
{
    for (;;) {
        pollfd fds[] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, WaitForever) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        return fds[1].revents == 0;
    }
}

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

// Moves exactly `size` bytes with `transfer` (read or write). A blocking
// descriptor simply blocks in the call; a non-blocking one waits in poll()
// for `events`, where `stopFd` can end the wait.
template <typename Data, typename Transfer>
bool transferExact(int fd, Data *data, size_t size, short events, int stopFd, Transfer transfer)
{
    while (size > 0) {
        const ssize_t n = transfer(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && wouldBlock()) {
            if (!waitReady(fd, events, stopFd))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool readExact(int fd, char *data, size_t size, int stopFd)
{
    return transferExact(fd, data, size, POLLIN, stopFd, ::read);
}

bool writeAll(int fd, const char *data, size_t size, int stopFd)
{
    return transferExact(fd, data, size, POLLOUT, stopFd, ::write);
}

void closeDescriptor(int *fd)
{
    if (*fd >= 0)
        ::close(*fd);
    *fd = -1;
}

} // namespace

BarePtyPair::~BarePtyPair()
{
    stop();
}

bool BarePtyPair::start(QString *error)
{
    stop();
    if (!m_pty.open(error))
        return false;
    const QByteArray slave = m_pty.slavePath().toLocal8Bit();
    m_client = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_client < 0 || !PseudoTerminal::makeRaw(m_client)) {
        *error = systemError("open slave");
        stop();
        return false;
    }
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        *error = systemError("pipe");
        stop();
        return false;
    }
    m_device = std::thread([this] { serve(); });
    return true;
}

bool BarePtyPair::roundTrip(const QByteArray &frame)
{
    char answer[ProtocolFrame::HeaderSize];
    return writeAll(m_client, frame.constData(), size_t(frame.size()), -1)
        && readExact(m_client, answer, sizeof(answer), -1);
}

void BarePtyPair::serve()
{
    const int master = m_pty.masterFd();
    const int stopFd = m_stopPipe[0];
    std::vector<char> payload;
    char header[ProtocolFrame::HeaderSize];
    while (readExact(master, header, sizeof(header), stopFd)) {
        const ar_protocol_t request = ProtocolFrame::decodeHeader(header);
        if (request.length > FrameAssembler::MaxPayloadBytes)
            return; // not a frame of ours: the stream is lost
        payload.resize(request.length);
        if (!readExact(master, payload.data(), payload.size(), stopFd))
            return;
        const QByteArray ack = ProtocolFrame::encode(request.command, AR_MSGTYPE_ACK, request.seq, 0);
        if (!writeAll(master, ack.constData(), size_t(ack.size()), stopFd))
            return;
    }
}

void BarePtyPair::stop()
{
    if (m_device.joinable()) {
        const char wake = 0;
        // A pipe with room for a byte cannot refuse it; the device thread ends its wait.
        const bool woken = ::write(m_stopPipe[1], &wake, 1) == 1;
        Q_ASSERT(woken);
        Q_UNUSED(woken);
        m_device.join();
    }
    closeDescriptor(&m_client);
    closeDescriptor(&m_stopPipe[0]);
    closeDescriptor(&m_stopPipe[1]);
    m_pty.close();
}

RelayedPtyPair::RelayedPtyPair(BarePtyPair *pair)
    : m_pair(pair)
    , m_thread([this] { relay(); })
{
}

RelayedPtyPair::~RelayedPtyPair()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

bool RelayedPtyPair::roundTrip(const QByteArray &frame)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_frame = &frame;
    m_answered = false;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_answered; });
    return m_succeeded;
}

void RelayedPtyPair::relay()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_frame != nullptr || m_stopping; });
        if (m_stopping)
            return;
        const QByteArray *frame = std::exchange(m_frame, nullptr);
        lock.unlock();
        const bool succeeded = m_pair->roundTrip(*frame);
        lock.lock();
        m_succeeded = succeeded;
        m_answered = true;
        m_changed.notify_all();
    }
}

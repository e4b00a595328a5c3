#include "ptychannel.h"

#include "logging.h"

#include <QSocketNotifier>
#include <cerrno>
#include <unistd.h>

namespace {
// One read takes at most this much; large data segments arrive in a few reads.
constexpr int ReadChunkBytes = 65536;
} // namespace

PtyChannel::PtyChannel(QObject *parent)
    : QObject(parent)
{
}

PtyChannel::~PtyChannel()
{
    close();
}

bool PtyChannel::open(QString *error)
{
    close();
    if (!m_pty.open(error))
        return false;
    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyChannel::readAvailable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyChannel::flush);
    return true;
}

void PtyChannel::close()
{
    // Notifiers go before the descriptor they watch.
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_pending.clear();
    m_pty.close();
}

void PtyChannel::write(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    m_pending.append(bytes);
    flush();
}

bool PtyChannel::isDrained() const
{
    return m_pending.isEmpty() && m_pty.unreadBySlave() == 0;
}

void PtyChannel::readAvailable()
{
    QByteArray chunk(ReadChunkBytes, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(m_pty.masterFd(), chunk.data(), size_t(chunk.size()));
        if (n > 0) {
            emit received(chunk.left(int(n)));
            if (!isOpen())
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Cannot happen while the held slave is open; never spin on it.
            LOG_WARNING << "device simulator: pty read failed, errno" << errno;
            m_readNotifier->setEnabled(false);
        }
        return;
    }
}

void PtyChannel::flush()
{
    while (!m_pending.isEmpty()) {
        const ssize_t n = ::write(m_pty.masterFd(), m_pending.constData(),
                                  size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            LOG_WARNING << "device simulator: pty write failed, errno" << errno;
            m_pending.clear();
        }
        break;
    }
    m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

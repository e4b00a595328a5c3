#include "framequeue.h"

#include "devicelink.h"

#include <utility>

RequestQueue::RequestQueue(DeviceLink &link, unsigned command, unsigned transmissions, unsigned timeoutMs,
                           Proceed proceed)
    : m_link(link)
    , m_command(command)
    , m_transmissions(transmissions)
    , m_timeoutMs(timeoutMs)
    , m_proceed(std::move(proceed))
{
}

bool RequestQueue::waitAcknowledged(qint64 count)
{
    while (!m_failed && m_acknowledged < count && !m_waiting.isEmpty()) {
        m_failed = m_link.request(m_command, m_waiting.takeFirst(), m_transmissions, m_timeoutMs, m_proceed) < 0;
        if (!m_failed)
            ++m_acknowledged;
    }
    return m_acknowledged >= count;
}

std::unique_ptr<FrameQueue> DeviceLink::openFrameQueue(unsigned command, unsigned transmissions, unsigned timeoutMs,
                                                       const Proceed &proceed)
{
    return std::make_unique<RequestQueue>(*this, command, transmissions, timeoutMs, proceed);
}

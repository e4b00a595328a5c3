#include "delayline.h"

#include <algorithm>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {
// The least the kernel may stretch a sleep by to batch wake-ups (50 us by default).
constexpr unsigned long LeastTimerSlackNs = 1;
} // namespace

DelayLine::DelayLine(const LinkModel &model, Deliver deliver, std::chrono::nanoseconds lead)
    : m_model(model)
    , m_deliver(std::move(deliver))
    , m_lead(lead)
{
    if (!m_model.isNone())
        m_thread = std::thread([this] { run(); });
}

DelayLine::~DelayLine()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void DelayLine::push(const QByteArray &bytes)
{
    if (m_model.isNone()) {
        m_deliver(bytes, Clock::now());
        return;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    // A piece waits for the wire to be free of the one before it.
    m_wireFree = std::max(now, m_wireFree) + m_model.serialisation(bytes.size());
    m_entries.push_back({m_wireFree + m_model.latency(), bytes});
    m_wake.notify_one();
}

void DelayLine::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
    m_wireFree = Clock::time_point();
}

void DelayLine::sharpenTimers()
{
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, LeastTimerSlackNs, 0, 0, 0);
#endif
}

void DelayLine::run()
{
    sharpenTimers();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_entries.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const Clock::time_point handOver = m_entries.front().due - m_lead;
        if (Clock::now() < handOver) {
            m_wake.wait_until(lock, handOver);
            continue;
        }
        const Entry entry = std::move(m_entries.front());
        m_entries.pop_front();
        // Under the lock: a clear() cannot fall between taking a piece and
        // handing it on.
        m_deliver(entry.bytes, entry.due);
    }
}

#include "waitreport.h"

#include <chrono>

WaitReport::WaitReport(const UpgradeClock &clock, int intervalMs,
                       std::function<void(qint64 seconds)> report, std::function<void()> done)
    : m_clock(clock)
    , m_intervalMs(intervalMs)
    , m_start(clock.now())
    , m_report(std::move(report))
    , m_done(std::move(done))
{
    m_report(0);
    m_thread = std::thread([this] { tick(); });
}

WaitReport::~WaitReport()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stop.notify_all();
    m_thread.join();
    m_done();
}

void WaitReport::tick()
{
    const std::chrono::milliseconds interval(m_clock.realMs(m_intervalMs));
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop.wait_for(lock, interval, [this] { return m_stopping; })) {
        lock.unlock();
        m_report(m_start.msecsTo(m_clock.now()) / 1000);
        lock.lock();
    }
}

#ifndef WAITREPORT_H
#define WAITREPORT_H

#include "upgradeclock.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Tells the user what a long wait is waiting for while it lasts: `report`
// gets the seconds waited (program time) at once and then every
// `intervalMs`, from a thread of its own, since the waiting thread is
// blocked; `done` runs when the wait ends.
class WaitReport
{
public:
    WaitReport(const UpgradeClock &clock, int intervalMs, std::function<void(qint64 seconds)> report,
               std::function<void()> done);
    ~WaitReport();

    WaitReport(const WaitReport &) = delete;
    WaitReport &operator=(const WaitReport &) = delete;

private:
    void tick();

    const UpgradeClock &m_clock;
    const int m_intervalMs;
    const QDateTime m_start;
    std::function<void(qint64)> m_report;
    std::function<void()> m_done;
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopping = false;
    std::thread m_thread;
};

#endif // WAITREPORT_H

#ifndef DELAYLINE_H
#define DELAYLINE_H

#include "linkmodel.h"

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// One direction of a modelled link. Bytes pushed in come out of `deliver` in
// the order they went in, each piece once the one before it has gone out, its
// own serialisation time has passed and the latency after that. A line
// without a model delivers at once, in the pushing thread. Otherwise
// `deliver` runs on the line's own thread, which waits on a condition
// variable until the next due time, with the kernel's timer slack cut to the
// least on Linux: that wakes some 30 us late (80 us with the default slack),
// where Qt 5's timers count whole milliseconds and wake 0.6-1 ms late. A
// receiver on another thread may have pieces handed over `lead` early and
// wait out the rest itself, so its own wake-up is not added to the delay.
// Nothing is delivered once clear() has returned, so a receiver that marks
// its own epoch after a clear can tell what went out before it.
class DelayLine
{
public:
    using Clock = std::chrono::steady_clock;
    // `due` is when the bytes should have come out.
    using Deliver = std::function<void(const QByteArray &bytes, Clock::time_point due)>;

    DelayLine(const LinkModel &model, Deliver deliver,
              std::chrono::nanoseconds lead = std::chrono::nanoseconds::zero());
    // Drops what has not come out yet.
    ~DelayLine();
    DelayLine(const DelayLine &) = delete;
    DelayLine &operator=(const DelayLine &) = delete;

    // `bytes` entered the link now.
    void push(const QByteArray &bytes);
    // Drops what has not come out yet; the link is idle again.
    void clear();

    // Sleeps of the calling thread end as close to their time as the
    // system allows (on Linux; elsewhere nothing changes).
    static void sharpenTimers();

private:
    struct Entry
    {
        Clock::time_point due;
        QByteArray bytes;
    };

    void run();

    const LinkModel m_model;
    const Deliver m_deliver;
    const std::chrono::nanoseconds m_lead;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_entries;
    Clock::time_point m_wireFree; // when the last piece has gone out
    bool m_stopping = false;
    std::thread m_thread;
};

#endif // DELAYLINE_H

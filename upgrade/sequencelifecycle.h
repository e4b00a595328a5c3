#ifndef SEQUENCELIFECYCLE_H
#define SEQUENCELIFECYCLE_H

#include <QMutex>
#include <atomic>
#include <functional>

class QThread;

// Orders an upgrade sequence's start and end against a reset from another
// thread (the page's disconnect), so that a cancel is never lost: a reset
// while a sequence runs, or after one was handed to the pool, ends it and
// leaves the reset to the sequence's thread, which owns the file until its
// step ends.
class SequenceLifecycle
{
public:
    struct Actions
    {
        std::function<void()> clear;              // what an earlier upgrade left behind
        std::function<void(bool)> setRun;         // the run flag
        std::function<void(int upgradeFinish)> reset; // returns the worker to idle
        std::function<void()> releasePort;        // lets a cancelled device's port go
    };

    explicit SequenceLifecycle(Actions actions) : m_actions(std::move(actions)) {}

    // Called before a sequence is handed to a pool thread.
    void expect();
    // Starts a sequence with the run flag set; false when one runs already or
    // it was cancelled before it got here.
    bool begin();
    // Sets the run flag again for the next part, unless the package was cancelled.
    bool resume();
    void end(int upgradeFinish, bool reset);
    // The worker's reset: from outside a running sequence it only ends it.
    void reset(int upgradeFinish);

    bool isRunning() const { return m_running.load(); }
    bool wasCancelled() const { return m_cancelled.load(); }
    int pendingFinish() const { return m_pendingFinish.load(); }

private:
    Actions m_actions;
    QMutex m_mutex;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_expected{false}; // handed to the pool, not yet started
    std::atomic<QThread *> m_thread{nullptr};
    std::atomic<bool> m_cancelled{false}; // a reset from outside ended the sequence
    std::atomic<int> m_pendingFinish{0};
};

#endif // SEQUENCELIFECYCLE_H

#include "sequencelifecycle.h"

#include "logging.h"
#include "logsystem.h"

#include <QThread>

void SequenceLifecycle::expect()
{
    QMutexLocker lock(&m_mutex);
    m_expected.store(true);
    m_cancelled.store(false);
    m_pendingFinish.store(0);
}

bool SequenceLifecycle::begin()
{
    QMutexLocker lock(&m_mutex);
    if (m_running.load()) {
        LOG_WARNING << "an upgrade sequence is already running";
        return false;
    }
    const bool cancelledBeforeStart = m_expected.exchange(false) && m_cancelled.load();
    if (cancelledBeforeStart) {
        m_actions.reset(m_pendingFinish.load());
        m_cancelled.store(false);
        return false;
    }
    m_running.store(true);
    LogSystem::instance()->keepNextAsBeginning(); // the upgrade's first lines outlive its own logging
    m_thread.store(QThread::currentThread());
    m_actions.clear();
    m_cancelled.store(false);
    m_pendingFinish.store(0);
    m_actions.setRun(true);
    return true;
}

bool SequenceLifecycle::resume()
{
    QMutexLocker lock(&m_mutex);
    if (m_cancelled.load())
        return false;
    m_actions.setRun(true);
    return true;
}

void SequenceLifecycle::end(int upgradeFinish, bool reset)
{
    QMutexLocker lock(&m_mutex);
    m_running.store(false);
    m_thread.store(nullptr);
    // A device the user let go is not held: the sequence may have opened its
    // port again before it saw the cancel.
    if (m_cancelled.load())
        m_actions.releasePort();
    if (reset)
        m_actions.reset(qMax(upgradeFinish, m_pendingFinish.load()));
}

void SequenceLifecycle::reset(int upgradeFinish)
{
    QMutexLocker lock(&m_mutex);
    const bool outside = m_thread.load() != QThread::currentThread();
    if ((m_running.load() || m_expected.load()) && outside) {
        m_pendingFinish.store(qMax(m_pendingFinish.load(), upgradeFinish));
        m_cancelled.store(true);
        m_actions.setRun(false);
        return;
    }
    m_actions.reset(upgradeFinish);
}

#ifndef UPGRADERECORDER_H
#define UPGRADERECORDER_H

#include "upgradeclock.h"
#include "upgradeprocess.h"

#include <QMutex>
#include <QStringList>

// Records what the worker tells the pages, from whichever thread it speaks.
class UpgradeRecorder
{
public:
    explicit UpgradeRecorder(UpgradeProcess *worker)
    {
        record(worker, &UpgradeProcess::sigUpgProg, &m_progress);
        record(worker, &UpgradeProcess::logMessage, &m_view);
        record(worker, &UpgradeProcess::sigUpgradeWaiting, &m_waiting);
        record(worker, &UpgradeProcess::sigUpgradeNotStarted, &m_notStarted);
        QObject::connect(worker, &UpgradeProcess::sigUpgradeProcessHint, &m_context,
                         [this](const QString &text, bool isHint) {
            QMutexLocker lock(&m_mutex);
            m_hints.append(text);
            m_allHints &= isHint;
        }, Qt::DirectConnection);
    }

    QList<int> progress() const { QMutexLocker lock(&m_mutex); return m_progress; }
    QStringList view() const { QMutexLocker lock(&m_mutex); return m_view; }
    QStringList hints() const { QMutexLocker lock(&m_mutex); return m_hints; }
    bool hintsFlaggedAsHints() const { QMutexLocker lock(&m_mutex); return m_allHints; }
    QStringList waiting() const { QMutexLocker lock(&m_mutex); return m_waiting; }
    QStringList notStarted() const { QMutexLocker lock(&m_mutex); return m_notStarted; }

private:
    template <typename Signal, typename Value>
    void record(UpgradeProcess *worker, Signal signal, QList<Value> *values)
    {
        QObject::connect(worker, signal, &m_context, [this, values](const Value &value) {
            QMutexLocker lock(&m_mutex);
            values->append(value);
        }, Qt::DirectConnection);
    }

    QObject m_context; // the connections end with the recorder
    mutable QMutex m_mutex;
    QList<int> m_progress;
    QStringList m_view, m_hints, m_waiting, m_notStarted;
    bool m_allHints = true;
};

// A clock the test sets by hand.
class ManualClock : public UpgradeClock
{
public:
    int realMs(int) const override { return 0; }
    QDateTime now() const override { QMutexLocker lock(&m_mutex); return m_now; }
    void set(const QDateTime &now) { QMutexLocker lock(&m_mutex); m_now = now; }
    void advanceSecs(int secs) { QMutexLocker lock(&m_mutex); m_now = m_now.addSecs(secs); }

private:
    mutable QMutex m_mutex;
    QDateTime m_now = QDateTime(QDate(2026, 1, 1), QTime(12, 0));
};

#endif // UPGRADERECORDER_H

#ifndef UPGRADERECORDER_H
#define UPGRADERECORDER_H

#include "upgradeclock.h"
#include "upgradeprocess.h"
#include "upgradereport.h"

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
        record(worker, &UpgradeProcess::finished, &m_outcomes);
    }

    QList<int> progress() const { QMutexLocker lock(&m_mutex); return m_progress; }
    QStringList view() const { QMutexLocker lock(&m_mutex); return m_view; }
    QList<UpgradeWait> waiting() const { QMutexLocker lock(&m_mutex); return m_waiting; }
    QList<UpgradeOutcome> outcomes() const { QMutexLocker lock(&m_mutex); return m_outcomes; }
    // The hints of the failures after something was sent, and of those before.
    QStringList hints() const { return hintsOf([](const UpgradeOutcome &o) { return !o.nothingSent(); }); }
    QStringList notStarted() const { return hintsOf([](const UpgradeOutcome &o) { return o.nothingSent(); }); }

private:
    template <typename Select>
    QStringList hintsOf(Select select) const
    {
        QStringList hints;
        for (const UpgradeOutcome &outcome : outcomes())
            if (!outcome.hint.isEmpty() && select(outcome))
                hints.append(outcome.hint);
        return hints;
    }

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
    QStringList m_view;
    QList<UpgradeWait> m_waiting;
    QList<UpgradeOutcome> m_outcomes;
};

// The log-view lines a part of the engine tells the user, kept.
struct ReportedLines : UpgradeReport
{
    void progress(int) override {}
    void logText(const QString &text) override { view.append(text); }
    void waiting(const UpgradeWait &) override {}
    void enteredStep(int) override {}
    void bytesSent(qint64, qint64) override {}
    QStringList view;
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

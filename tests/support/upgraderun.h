#ifndef UPGRADERUN_H
#define UPGRADERUN_H

#include "upgradeprocess.h"

#include <QDeadlineTimer>
#include <QFuture>
#include <QTest>

// Helpers of the tests that run whole upgrade sequences.
namespace UpgradeRun {

// Waits for a sequence on the pool while this thread keeps its events going.
// When it does not end in time, the worker is reset (which ends it) and false
// is returned.
inline bool finish(QFuture<void> task, UpgradeProcess *worker, int timeoutMs = 60000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!task.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    if (task.isFinished())
        return true;
    worker->resetUpgradeParameters(1);
    task.waitForFinished();
    return false;
}

// Consecutive repeats collapsed: the order of the phases of an exchange.
inline QList<quint32> phases(const QList<quint32> &commands)
{
    QList<quint32> out;
    for (quint32 command : commands)
        if (out.isEmpty() || out.last() != command)
            out.append(command);
    return out;
}

// Bytes of a recognisable pattern, different for each seed.
inline QByteArray pattern(int size, char seed = 7)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 131);
    return bytes;
}

} // namespace UpgradeRun

#endif // UPGRADERUN_H

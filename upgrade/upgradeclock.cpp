#include "upgradeclock.h"

#include <QThread>

void UpgradeClock::sleep(int programMs) const
{
    const int ms = realMs(programMs);
    if (ms > 0)
        QThread::msleep(ulong(ms));
}

ScaledClock::ScaledClock(int factor)
    : m_factor(qMax(1, factor))
    , m_start(QDateTime::currentDateTime())
{
    m_elapsed.start();
}

int ScaledClock::realMs(int programMs) const
{
    if (programMs <= 0)
        return 0;
    return qMax(1, programMs / m_factor); // a pause never becomes a busy loop
}

int ScaledClock::replyWaitMs(int programMs) const
{
    return programMs / qMin(m_factor, MaxReplySpeedup);
}

QDateTime ScaledClock::now() const
{
    return m_start.addMSecs(m_elapsed.elapsed() * m_factor);
}

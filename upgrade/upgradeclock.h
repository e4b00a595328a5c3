#ifndef UPGRADECLOCK_H
#define UPGRADECLOCK_H

#include <QDateTime>
#include <QElapsedTimer>

// The one source of time for the upgrade sequences: every pause, poll
// interval, limit and status time stamp goes through it, so tests can run the
// slow paths (a reboot that never comes, a stagnant status) in seconds.
// Durations are given in program time; realMs() says how long they really last.
class UpgradeClock
{
public:
    virtual ~UpgradeClock() = default;
    virtual int realMs(int programMs) const = 0;
    virtual QDateTime now() const = 0;
    void sleep(int programMs) const;
};

// Real time.
class SystemClock : public UpgradeClock
{
public:
    int realMs(int programMs) const override { return programMs; }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// Time running `factor` times faster than real time, from its construction on.
class ScaledClock : public UpgradeClock
{
public:
    explicit ScaledClock(int factor);
    int realMs(int programMs) const override;
    QDateTime now() const override;

private:
    int m_factor;
    QDateTime m_start;
    QElapsedTimer m_elapsed;
};

#endif // UPGRADECLOCK_H

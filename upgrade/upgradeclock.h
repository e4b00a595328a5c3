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
    // How long a wait for the device's answer to one transmission really lasts.
    virtual int replyWaitMs(int programMs) const { return realMs(programMs); }
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
    // An answer is a round trip through the port and two threads, which takes
    // real time however fast the clock runs: a wait for it is shortened by
    // MaxReplySpeedup at most, so a busy machine does not turn an answer in
    // time into a lost one (2 s becomes 400 ms: two seconds for a request
    // with its retransmissions).
    int replyWaitMs(int programMs) const override;
    QDateTime now() const override;

    static constexpr int MaxReplySpeedup = 5;

private:
    int m_factor;
    QDateTime m_start;
    QElapsedTimer m_elapsed;
};

#endif // UPGRADECLOCK_H

#ifndef STATUSEVALUATION_H
#define STATUSEVALUATION_H

#include "ARNetType.h"

#include <QDateTime>
#include <atomic>
#include <memory>

class UpgradeClock;
class UpgradeProcess;
class UsbVirtualSerial;

// The device's upgrade status codes: their texts for the log, the log view
// and the user, and the evaluation of the status phase's reports (change
// tracking, stagnation, abnormal end, success and failure).
class StatusEvaluation
{
public:
    StatusEvaluation(UpgradeProcess &worker, UsbVirtualSerial *link,
                     std::shared_ptr<const UpgradeClock> clock)
        : m_worker(worker), m_link(link), m_clock(std::move(clock))
    {
    }

    // The settings page's log-view text of a device status (English, never translated).
    static QString describe(int status, int percent);

    // Forgets the last upgrade's status: it must not decide the next one.
    void clear();
    void recordUpgradeStatus(int status, int percent);
    // A device failure is reported once, whichever path sees it first.
    void reportNegativeStatusOnce(int status, int percent);
    bool negativeReported() const { return m_negativeReported.load(); }
    // Evaluates one status report; true when it ended the sequence.
    bool evaluateStatus(const ar_upgrade_status &report, bool *needReboot);

private:
    UpgradeProcess &m_worker;
    UsbVirtualSerial *m_link;
    std::shared_ptr<const UpgradeClock> m_clock;
    int m_lastStatus = -1;
    int m_highestPercent = -1; // under m_lastStatus
    QDateTime m_lastStatusTime;
    std::atomic<bool> m_negativeReported{false};
};

#endif // STATUSEVALUATION_H

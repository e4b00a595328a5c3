#ifndef STATUSEVALUATION_H
#define STATUSEVALUATION_H

#include "ARNetType.h"
#include "upgradeoutcome.h"

#include <QDateTime>
#include <optional>

class UpgradeClock;
class UpgradeReport;

// The device's upgrade status codes: their texts for the log, the log view
// and the user, and the evaluation of the status phase's reports (change
// tracking, stagnation, abnormal end, success and failure). One evaluation
// serves one status phase.
class StatusEvaluation
{
public:
    static constexpr int STATUS_TIMEOUT = 120; // seconds a status may stand still

    StatusEvaluation(UpgradeReport &report, const UpgradeClock &clock);

    // The settings page's log-view text of a device status (English, never translated).
    static QString describe(int status, int percent);

    // Logs a status and tells the log view of it.
    void recordUpgradeStatus(int status, int percent);
    // Records a failure status: the outcome it gives the upgrade.
    UpgradeOutcome reportFailure(int status, int percent);
    // Evaluates one report: the outcome when it ends the upgrade; `needReboot`
    // is set when the device reported its upgrade done.
    std::optional<UpgradeOutcome> evaluateStatus(const ar_upgrade_status &report, bool *needReboot);

private:
    UpgradeReport &m_report;
    const UpgradeClock &m_clock;
    int m_lastStatus = -1;
    int m_highestPercent = -1; // under m_lastStatus
    QDateTime m_lastStatusTime;
};

#endif // STATUSEVALUATION_H

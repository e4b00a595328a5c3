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
    static constexpr int StandingStillShownAfter = 5; // seconds before the user is told of it

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
    // The device was away and is back: its status counts as new from now.
    void restartClock();

private:
    // Tells the user how long the status has stood still, from a few seconds
    // on; 0: it moves, or the phase ends.
    void tellStandingStill(qint64 seconds);

    UpgradeReport &m_report;
    const UpgradeClock &m_clock;
    int m_lastStatus = -1;
    int m_highestPercent = -1; // under m_lastStatus
    QDateTime m_lastStatusTime;
    qint64 m_toldStill = 0; // the seconds standing still the user was last told of
};

#endif // STATUSEVALUATION_H

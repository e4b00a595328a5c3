// The device's upgrade status codes: their texts, and the evaluation of one
// status report during the status phase.
#include "statusevaluation.h"

#include "logging.h"
#include "upgradeclock.h"
#include "upgradereport.h"

#include <QCoreApplication>

namespace {
struct StatusTexts
{
    int status;
    const char *logLine;
    const char *viewText;   // the settings page's log view
    const char *hint;       // warning box (translated), or null
};

// QT_TRANSLATE_NOOP marks the hints for the catalogues; they are translated when shown.
const StatusTexts DeviceErrors[] = {
    {UPGRATE_ERR_NO_SD, "upgrade error: no SD card detected", "upgrade error: no SD card detected!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：未检测到SD卡！")},
    {UPGRATE_ERR_NO_PC, "upgrade error: no PC connected", "upgrade error: no computer connected!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：未连接到电脑")},
    {UPGRATE_ERR_NO_FILE, "upgrade error: no upgrade file found", "upgrade error: no upgrade file found!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：未找到升级固件，请检查升级固件是否正确！")},
    {UPGRATE_ERR_BAD_FILE, "upgrade error: upgrade file is corrupted",
     "upgrade error: upgrade file is corrupted!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：升级文件已损坏，请检查升级固件是否正确！")},
    {UPGRATE_ERR_BOARD_TYPE, "upgrade error: incorrect board type",
     "upgrade error: the device model does not match the upgraded firmware!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！")},
    {UPGRATE_ERR_APP_VERSION, "upgrade error: application version mismatch",
     "upgrade error: The firmware version number is too low!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：升级固件版本号过低，请检查升级固件是否正确！")},
    {UPGRATE_ERR_UPGRADE_MODE, "upgrade error: invalid upgrade mode", "upgrade error: invalid upgrade mode!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：无效的升级方式！")},
    {UPGRATE_ERR_IMG_TYPE, "upgrade error: invalid image type", "upgrade error: invalid image type!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：无效的升级固件类型，请检查升级固件是否正确！")},
    {UPGRATE_ERR_MAX, "upgrade error: Unknown error", "upgrade error: unknown error!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：未知错误！请重启设备再次升级！")},
    {UPGRATE_ERR_FLASH_ERR, "upgrade error: flash error!", "upgrade error: flash error!",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级错误：Flash错误，请重启设备再次升级！")},
};

const char StatusFailedText[] = "upgrade status failed, please restart the device to upgrade again.";
const char *const StatusFailedHint = QT_TRANSLATE_NOOP("UpgradeProcess", "升级状态失败，请重启设备再次升级。");
const char CheckingText[] = "upgrade firmware checking...";
const char StartText[] = "start upgrade.";
const char ProgressText[] = "upgrade progress %1%";
const char SuccessText[] = "upgrade successfully!";

const StatusTexts *deviceError(int status)
{
    for (const StatusTexts &row : DeviceErrors) {
        if (row.status == status)
            return &row;
    }
    return nullptr;
}
} // namespace

QString StatusEvaluation::describe(int status, int percent)
{
    switch (status) {
    case STAT_VERIFY_IMAGE:
        return QString::fromLatin1(CheckingText);
    case STAT_START:
        return QString::fromLatin1(StartText);
    case STAT_IN_PROGRESS:
        return QString::fromLatin1(ProgressText).arg(percent);
    case STAT_DONE:
        return QString::fromLatin1(SuccessText);
    default:
        break;
    }
    const StatusTexts *error = deviceError(status);
    return QString::fromLatin1(error ? error->viewText : StatusFailedText);
}

StatusEvaluation::StatusEvaluation(UpgradeReport &report, const UpgradeClock &clock)
    : m_report(report)
    , m_clock(clock)
{
}

void StatusEvaluation::recordUpgradeStatus(int status, int percent)
{
    switch (status) {
    case STAT_VERIFY_IMAGE:
        LOG_INFO << CheckingText;
        m_report.logText(describe(status, percent));
        return;
    case STAT_START:
        LOG_INFO << "check success, start upgrade.";
        m_report.logText(QStringLiteral("check successfully!"));
        m_report.logText(describe(status, percent));
        return;
    case STAT_IN_PROGRESS:
        LOG_INFO << "upgrade progress ..." << percent << "%";
        m_report.logText(describe(status, percent));
        return;
    case STAT_DONE:
        LOG_INFO << "upgrade success!";
        m_report.logText(describe(STAT_IN_PROGRESS, percent));
        m_report.logText(describe(status, percent));
        return;
    default:
        break;
    }
    if (const StatusTexts *row = deviceError(status)) {
        LOG_INFO << row->logLine;
    } else {
        LOG_CRITICAL << StatusFailedText;
    }
    m_report.logText(describe(status, percent));
}

UpgradeOutcome StatusEvaluation::reportFailure(int status, int percent)
{
    recordUpgradeStatus(status, percent);
    const StatusTexts *row = deviceError(status);
    return UpgradeOutcome::of(UpgradeOutcome::Kind::DeviceError,
                                   QCoreApplication::translate("UpgradeProcess", row ? row->hint : StatusFailedHint),
                                   status);
}

std::optional<UpgradeOutcome> StatusEvaluation::evaluateStatus(const ar_upgrade_status &report, bool *needReboot)
{
    const int stat = report.status;
    const int percent = report.percent;
    const QDateTime now = m_clock.now();
    LOG_INFO << "### status:" << stat << "percent:" << percent;
    if (stat != m_lastStatus) {
        LOG_INFO << QStringLiteral("upgrade status change: %1 -> %2").arg(m_lastStatus).arg(stat);
        m_lastStatus = stat;
        m_highestPercent = percent;
        m_lastStatusTime = now;
    } else if (stat == STAT_IN_PROGRESS && percent > m_highestPercent) {
        // A device still flashing is not stagnant, but only a new highest
        // percent is progress: one going back and forth is standing still.
        m_highestPercent = percent;
        m_lastStatusTime = now;
    }

    const qint64 elapsed = m_lastStatusTime.isValid() ? m_lastStatusTime.secsTo(now) : 0;
    const bool ends = stat == STAT_DONE || stat < 0 || percent == -1 || elapsed >= STATUS_TIMEOUT;
    tellStandingStill(ends ? 0 : elapsed);
    if (stat != STAT_DONE) {
        if (elapsed >= STATUS_TIMEOUT) {
            TAVIO_LOG_PREFIXED(qCritical().noquote())
                << QStringLiteral("status stagnation timeout: current status [%1] duration %2 seconds")
                       .arg(stat).arg(elapsed);
            m_report.logText(QCoreApplication::translate(
                "UpgradeProcess", "upgrade timeout, please restart the device to upgrade again."));
            return UpgradeOutcome::of(UpgradeOutcome::Kind::StatusTimeout,
                                           QCoreApplication::translate("UpgradeProcess", "升级超时，请重启设备再次升级。"));
        }
    }

    if (percent == -1) {
        TAVIO_LOG_PREFIXED(qCritical().noquote())
            << QStringLiteral("abnormal termination, upgrade status code: %1").arg(stat);
        m_report.logText(QCoreApplication::translate(
            "UpgradeProcess", "abnormal termination, please restart the device to upgrade again."));
        return UpgradeOutcome::of(UpgradeOutcome::Kind::AbnormalEnd,
                                       QCoreApplication::translate("UpgradeProcess", "异常终止，请重启设备再次升级。"),
                                       stat);
    }

    if (stat == STAT_DONE) {
        *needReboot = true;
        recordUpgradeStatus(stat, percent);
        return std::nullopt;
    }
    if (stat < 0) {
        LOG_WARNING << "device upgrade fail!";
        return reportFailure(stat, percent);
    }
    return std::nullopt;
}

void StatusEvaluation::restartClock()
{
    m_lastStatusTime = m_clock.now();
}

void StatusEvaluation::tellStandingStill(qint64 seconds)
{
    if (seconds < StandingStillShownAfter)
        seconds = 0;
    if (seconds == m_toldStill)
        return;
    m_toldStill = seconds;
    m_report.waiting(seconds == 0 ? UpgradeWait()
                                  : UpgradeWait{UpgradeWait::Phase::Status, seconds, STATUS_TIMEOUT});
}

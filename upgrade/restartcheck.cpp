#include "restartcheck.h"

#include "firmwarerules.h"
#include "identityquery.h"
#include "logging.h"
#include "replymailbox.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {
// One transmission per question: the check repeats the question itself.
constexpr int RetryMs = UpgradeChannel::PortRetryMs;
constexpr unsigned QueryTransmissions = 1;

const char Context[] = "RestartCheck";
const char *const VerifiedText = QT_TRANSLATE_NOOP("RestartCheck", "已验证");
const char *const OtherFirmwareText =
    QT_TRANSLATE_NOOP("RestartCheck", "未通过验证：重启后的设备报告固件 %1，与 %2 的版本不符");
const char *const NoAnswerText = QT_TRANSLATE_NOOP("RestartCheck", "未通过验证：设备重启后没有应答");
} // namespace

RestartCheck::Result RestartCheck::run(const QString &fileName)
{
    Result result;
    result.fileName = fileName;
    const UpgradeClock &clock = m_mailbox.clock();
    // The port of the device that went away is let go: the device returns on a new one.
    m_link.stopSerialRecv();
    m_link.closeSerialPort();
    m_mailbox.pause(PauseMs);
    const QDeadlineTimer deadline(clock.realMs(LimitMs - PauseMs));
    while (m_mailbox.running()) {
        if (IdentityQuery::ask(m_link, clock, QueryTransmissions, &result.identity, nullptr, m_mailbox.proceed())
            == IdentityQuery::Answer::Identified) {
            const bool announced = FirmwareRules::isAnnouncedFirmware(result.identity.firmware.data(), fileName);
            result.outcome = announced ? Outcome::Verified : Outcome::OtherFirmware;
            break;
        }
        if (deadline.hasExpired()) {
            result.outcome = Outcome::NoAnswer;
            break;
        }
        m_mailbox.pause(RetryMs);
    }
    if (result.outcome == Outcome::Verified)
        LOG_INFO << "restart check: the device reports" << firmwareOf(result) << "as" << fileName << "announced";
    else if (result.outcome != Outcome::Cancelled)
        LOG_WARNING << "restart check failed:" << fileName << "the device reports"
                    << (result.outcome == Outcome::NoAnswer ? QStringLiteral("nothing") : firmwareOf(result));
    return result;
}

QString RestartCheck::describe(const Result &result)
{
    switch (result.outcome) {
    case Outcome::Verified:
        return QCoreApplication::translate(Context, VerifiedText);
    case Outcome::OtherFirmware:
        return QCoreApplication::translate(Context, OtherFirmwareText).arg(firmwareOf(result), result.fileName);
    case Outcome::NoAnswer:
        return QCoreApplication::translate(Context, NoAnswerText);
    case Outcome::Cancelled:
        break;
    }
    return QString();
}

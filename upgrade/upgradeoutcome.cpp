#include "upgradeoutcome.h"

#include <QCoreApplication>

namespace {
const char CancelledText[] = "cancelled";
} // namespace

UpgradeOutcome UpgradeOutcome::of(Kind kind, const QString &hint, int code)
{
    UpgradeOutcome outcome;
    outcome.kind = kind;
    outcome.hint = hint;
    outcome.code = code;
    return outcome;
}

UpgradeOutcome UpgradeOutcome::timedOut()
{
    return of(Kind::TimedOut, QCoreApplication::translate("UpgradeProcess", "升级超过了时间限制，已中止。"));
}

QString UpgradeOutcome::successText()
{
    return QCoreApplication::translate("UpgradePage", "升级完成！");
}

QString UpgradeOutcome::summary() const
{
    switch (kind) {
    case Kind::Succeeded:
        return restartChecked() ? RestartCheck::describe(check) : successText();
    case Kind::Cancelled:
        return QString::fromLatin1(CancelledText);
    default:
        return hint;
    }
}

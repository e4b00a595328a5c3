#include "upgradewait.h"

#include <QCoreApplication>

namespace {
struct PhaseTexts
{
    UpgradeWait::Phase phase;
    const char *name;
    const char *text; // translated when shown: seconds waited, then the limit
};

const PhaseTexts Phases[] = {
    {UpgradeWait::Phase::Restart, "restart",
     QT_TRANSLATE_NOOP("UpgradeProcess", "正在等待设备重启，已等待%1秒（最长%2秒）")},
    {UpgradeWait::Phase::Verdict, "verdict",
     QT_TRANSLATE_NOOP("UpgradeProcess", "正在等待设备的校验结果，已等待%1秒（最长%2秒）")},
    {UpgradeWait::Phase::Status, "device-upgrade",
     QT_TRANSLATE_NOOP("UpgradeProcess", "设备升级状态已%1秒没有更新（最长%2秒）")},
    {UpgradeWait::Phase::Disconnected, "disconnected",
     QT_TRANSLATE_NOOP("UpgradeProcess", "设备已断开连接，正在等待设备重新连接，已等待%1秒（最长%2秒）")},
    {UpgradeWait::Phase::RestartCheck, "restart-check",
     QT_TRANSLATE_NOOP("UpgradeProcess", "正在等待设备重启后验证固件，已等待%1秒（最长%2秒）")},
};

const PhaseTexts *textsOf(UpgradeWait::Phase phase)
{
    for (const PhaseTexts &row : Phases)
        if (row.phase == phase)
            return &row;
    return nullptr;
}
} // namespace

QString UpgradeWait::name() const
{
    const PhaseTexts *row = textsOf(phase);
    return row ? QString::fromLatin1(row->name) : QString();
}

QString UpgradeWait::text() const
{
    const PhaseTexts *row = textsOf(phase);
    return row ? QCoreApplication::translate("UpgradeProcess", row->text).arg(seconds).arg(limitSeconds) : QString();
}

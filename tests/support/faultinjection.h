#ifndef FAULTINJECTION_H
#define FAULTINJECTION_H

#include "devicesimulator.h"
#include "upgradeprocess.h"

#include <QCoreApplication>
#include <QHash>
#include <QStringList>

// Faults a simulated device can show during an upgrade, by name, and the
// hint each one ends with (empty: the upgrade succeeds anyway).
namespace Faults {

inline const QString Success;
inline const QString TransferFailed = QStringLiteral("升级固件传输失败，请重启设备再次升级。");
inline const QString Timeout = QStringLiteral("升级超时，请重启设备再次升级。");
inline const QString NotBack = QStringLiteral("FPV设备重启后未能重新连接，请重启设备再次升级。");
inline const QString UnknownError = QStringLiteral("升级错误：未知错误！请重启设备再次升级！");
inline const QString FlashError = QStringLiteral("升级错误：Flash错误，请重启设备再次升级！");
inline const QString Abnormal = QStringLiteral("异常终止，请重启设备再次升级。");
inline const QString FileChanged = QStringLiteral("升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！");

struct Fault
{
    QString name;
    QString hint;
    int vanishes; // times the device vanishes while the program holds its port
};

// The settings page's log-view line that goes with each outcome.
inline QString viewLineFor(const QString &hint)
{
    static const QHash<QString, QString> lines = {
        {TransferFailed, QStringLiteral("upgrade image transfer failed, please restart the device to upgrade again.")},
        {Timeout, QStringLiteral("upgrade timeout, please restart the device to upgrade again.")},
        {NotBack, QStringLiteral("The FPV device did not come back after its reboot, please restart the device to upgrade again.")},
        {UnknownError, QStringLiteral("upgrade error: unknown error!")},
        {FlashError, QStringLiteral("upgrade error: flash error!")},
        {Abnormal, QStringLiteral("abnormal termination, please restart the device to upgrade again.")},
        {FileChanged, QStringLiteral("the upgrade file changed during the upgrade: the upgrade is stopped and nothing "
                                     "more is sent.")}};
    return lines.value(hint, QStringLiteral("upgrade successfully!"));
}

inline const QList<Fault> &all()
{
    static const QList<Fault> faults = {
        {QStringLiteral("never back"), NotBack, 0},
        {QStringLiteral("other vendor"), NotBack, 0},
        {QStringLiteral("vanish 115"), TransferFailed, 1},
        {QStringLiteral("vanish 116"), TransferFailed, 1},
        {QStringLiteral("vanish 117"), TransferFailed, 1},
        {QStringLiteral("vanish 118"), Timeout, 1},
        {QStringLiteral("duplicates"), Success, 0},
        {QStringLiteral("late"), Success, 0},
        // Unacknowledged data frames keep their sequence number, so the device
        // takes the next segments for retransmissions: its verdict refuses the file.
        {QStringLiteral("other seq"), TransferFailed, 0},
        {QStringLiteral("bad length"), Success, 0},
        {QStringLiteral("refusal"), UnknownError, 0},
        // The device's own upgrade, after the transfer: its statuses.
        {QStringLiteral("device error"), FlashError, 0},
        {QStringLiteral("abnormal end"), Abnormal, 0},
        {QStringLiteral("stuck at one percent"), Timeout, 0},
        {QStringLiteral("unknown status code"), Timeout, 0},
        {QStringLiteral("healthy"), Success, 0},
    };
    return faults;
}

inline Fault byName(const QString &name)
{
    for (const Fault &fault : all())
        if (fault.name == name)
            return fault;
    return {name, Success, 0};
}

// Makes `sim` show the fault; `clockFactor` is the speed of the upgrade's clock.
inline void inject(const QString &name, DeviceSimulator *sim, int clockFactor)
{
    if (name == QLatin1String("never back")) {
        sim->setRebootDelay(24 * 3600 * 1000);
    } else if (name == QLatin1String("other vendor")) {
        QObject::connect(sim, &DeviceSimulator::rebooting, sim, [sim] {
            DeviceIdentity other = sim->identity();
            other.vendorId = AR_FPV_BOARD_TYPE_SKY_EX4;
            sim->setIdentity(other);
        });
    } else if (name.startsWith(QLatin1String("vanish"))) {
        // Gone when the frame arrives: nothing more is answered (that frame's
        // own answer may still go out, except at the end of file).
        const quint32 command = name.section(QLatin1Char(' '), 1).toUInt();
        if (command == AR_CMD_SENDFILE_END)
            sim->setSilent(true, AR_CMD_SENDFILE_END);
        const int occurrence = command == AR_CMD_SENDFILE_DATA || command == AR_CMD_UPGRADE_STATUS ? 3 : 1;
        auto seen = std::make_shared<int>(0);
        QObject::connect(sim, &DeviceSimulator::frameReceived, sim, [sim, command, occurrence, seen](const SimFrameRecord &frame) {
            if (frame.command != command || ++*seen != occurrence)
                return;
            sim->setSilent(true);
            QMetaObject::invokeMethod(qApp, [sim] { sim->vanish(); }, Qt::QueuedConnection);
        }, Qt::DirectConnection);
    } else if (name == QLatin1String("duplicates")) {
        sim->setDuplicateReplies(true);
    } else if (name == QLatin1String("late")) {
        sim->setReplyDelay(ScaledClock(clockFactor).replyWaitMs(UpgradeChannel::AckTimeoutMs) * 3 / 2);
    } else if (name == QLatin1String("other seq")) {
        sim->setAckSeqOffset(1);
    } else if (name == QLatin1String("bad length")) {
        QObject::connect(sim, &DeviceSimulator::frameReceived, sim, [sim](const SimFrameRecord &frame) {
            if (frame.command == AR_CMD_REMOTE_UPGRADE)
                sim->corruptNextReplyLengths(1); // the announcement's acknowledgement
        }, Qt::DirectConnection);
    } else if (name == QLatin1String("refusal")) {
        sim->refuseNext(1, AR_CMD_SENDFILE_DATA);
    } else if (name == QLatin1String("device error")) {
        sim->setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, STAT_IN_PROGRESS}, {0, UPGRATE_ERR_FLASH_ERR}});
    } else if (name == QLatin1String("abnormal end")) {
        sim->setStatusScript({{40, STAT_IN_PROGRESS}, {-1, STAT_IN_PROGRESS}});
    } else if (name == QLatin1String("stuck at one percent")) {
        sim->setStatusScript({{50, STAT_IN_PROGRESS}});
    } else if (name == QLatin1String("unknown status code")) {
        sim->setStatusScript({{0, 7}});
    }
}

// Back to a healthy device with the default identity, present again.
inline void heal(DeviceSimulator *sim, int rebootDelayMs)
{
    QObject::disconnect(sim, nullptr, sim, nullptr);
    sim->setIdentity(DeviceIdentity());
    sim->setRebootDelay(rebootDelayMs);
    sim->setDuplicateReplies(false);
    sim->setReplyDelay(0);
    sim->setAckSeqOffset(0);
    sim->setSilent(false);
    sim->setStatusScript({});
    sim->reappear();
}

} // namespace Faults

#endif // FAULTINJECTION_H

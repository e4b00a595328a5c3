#ifndef FAULTINJECTION_H
#define FAULTINJECTION_H

#include "devicesimulator.h"
#include "upgradeprocess.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <algorithm>

// Faults a simulated device can show during an upgrade, and the hint each
// one ends with (empty: the upgrade succeeds anyway).
namespace Faults {

inline const QString Success;
inline const QString TransferFailed = QStringLiteral("升级固件传输失败，请重启设备再次升级。");
inline const QString Timeout = QStringLiteral("升级超时，请重启设备再次升级。");
inline const QString NotBack = QStringLiteral("FPV设备重启后未能重新连接，请重启设备再次升级。");
inline const QString UnknownError = QStringLiteral("升级错误：未知错误！请重启设备再次升级！");
inline const QString FlashError = QStringLiteral("升级错误：Flash错误，请重启设备再次升级！");
inline const QString Abnormal = QStringLiteral("异常终止，请重启设备再次升级。");
inline const QString Disconnected = QStringLiteral("设备在升级中断开连接，等待120秒后仍未重新连接。 升级超时，请重启设备再次升级。");
inline const QString FileChanged = QStringLiteral("升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！");

// Each fault the simulated device can show; Faults::all() names them.
enum class Fault {
    NeverBack, OtherVendor, VanishAtAnnouncement, VanishInTransfer, VanishAtFileEnd, VanishInStatus, UnpluggedInStatus,
    Duplicates, Late, OtherSeq, BadLength, Refusal, DeviceError, AbnormalEnd, StuckAtOnePercent,
    UnknownStatusCode, Healthy, Slow,
};

struct FaultRow
{
    Fault fault;
    const char *name; // the test rows' and messages' name
    QString hint;
    int vanishes; // times the device vanishes while the program holds its port
};

// The settings page's log-view line that goes with each outcome.
inline QString viewLineFor(const QString &hint)
{
    static const QHash<QString, QString> lines = {
        {TransferFailed, QStringLiteral("upgrade image transfer failed, please restart the device to upgrade again.")},
        {Timeout, QStringLiteral("upgrade timeout, please restart the device to upgrade again.")},
        {Disconnected, QStringLiteral("the device was disconnected during its upgrade and did not come back, please "
                                      "restart the device to upgrade again.")},
        {NotBack, QStringLiteral("The FPV device did not come back after its reboot, please restart the device to upgrade again.")},
        {UnknownError, QStringLiteral("upgrade error: unknown error!")},
        {FlashError, QStringLiteral("upgrade error: flash error!")},
        {Abnormal, QStringLiteral("abnormal termination, please restart the device to upgrade again.")},
        {FileChanged, QStringLiteral("the upgrade file changed during the upgrade: the upgrade is stopped and nothing "
                                     "more is sent.")}};
    return lines.value(hint, QStringLiteral("upgrade successfully!"));
}

inline const QList<FaultRow> &all()
{
    static const QList<FaultRow> faults = {
        {Fault::NeverBack, "never back", NotBack, 0},
        {Fault::OtherVendor, "other vendor", NotBack, 0},
        {Fault::VanishAtAnnouncement, "vanish 115", TransferFailed, 1},
        {Fault::VanishInTransfer, "vanish 116", TransferFailed, 1},
        {Fault::VanishAtFileEnd, "vanish 117", TransferFailed, 1},
        {Fault::VanishInStatus, "vanish 118", Disconnected, 1},
        {Fault::UnpluggedInStatus, "unplugged in 118, plugged in again", Success, 1},
        {Fault::Duplicates, "duplicates", Success, 0},
        {Fault::Late, "late", Success, 0},
        // Unacknowledged data frames keep their sequence number, so the device
        // takes the next segments for retransmissions: its verdict refuses the file.
        {Fault::OtherSeq, "other seq", TransferFailed, 0},
        {Fault::BadLength, "bad length", Success, 0},
        {Fault::Refusal, "refusal", UnknownError, 0},
        // The device's own upgrade, after the transfer: its statuses.
        {Fault::DeviceError, "device error", FlashError, 0},
        {Fault::AbnormalEnd, "abnormal end", Abnormal, 0},
        {Fault::StuckAtOnePercent, "stuck at one percent", Timeout, 0},
        {Fault::UnknownStatusCode, "unknown status code", Timeout, 0},
        {Fault::Healthy, "healthy", Success, 0},
        {Fault::Slow, "very slow but within every timeout", Success, 0},
    };
    return faults;
}

inline const FaultRow &row(Fault fault)
{
    const auto found = std::find_if(all().cbegin(), all().cend(),
                                    [fault](const FaultRow &r) { return r.fault == fault; });
    Q_ASSERT(found != all().cend()); // every fault has its row
    return *found;
}

// The device goes when the `command` request arrives: nothing more is
// answered (that frame's own answer may still go out, except at the end of
// file), unless it `comesBack` on a new port at once, as one plugged in again.
inline void vanishAt(quint32 command, DeviceSimulator *sim, bool comesBack = false)
{
    if (command == AR_CMD_SENDFILE_END)
        sim->setSilent(true, AR_CMD_SENDFILE_END);
    const int occurrence = command == AR_CMD_SENDFILE_DATA || command == AR_CMD_UPGRADE_STATUS ? 3 : 1;
    auto seen = std::make_shared<int>(0);
    QObject::connect(sim, &DeviceSimulator::frameReceived, sim, [=](const SimFrameRecord &frame) {
        if (frame.command != command || ++*seen != occurrence)
            return;
        sim->setSilent(!comesBack);
        QMetaObject::invokeMethod(qApp, [sim, comesBack] {
            sim->vanish();
            if (comesBack)
                sim->reappear();
        }, Qt::QueuedConnection);
    }, Qt::DirectConnection);
}

// Makes `sim` show the fault; `clockFactor` is the speed of the upgrade's clock.
inline void inject(Fault fault, DeviceSimulator *sim, int clockFactor)
{
    const int ackWaitMs = ScaledClock(clockFactor).replyWaitMs(UpgradeChannel::AckTimeoutMs);
    switch (fault) {
    case Fault::NeverBack: return sim->setRebootDelay(24 * 3600 * 1000);
    case Fault::OtherVendor:
        QObject::connect(sim, &DeviceSimulator::rebooting, sim, [sim] {
            DeviceIdentity other = sim->identity();
            other.vendorId = AR_FPV_BOARD_TYPE_SKY_EX4;
            sim->setIdentity(other);
        });
        return;
    case Fault::VanishAtAnnouncement: return vanishAt(AR_CMD_SENDFILE_START, sim);
    case Fault::VanishInTransfer: return vanishAt(AR_CMD_SENDFILE_DATA, sim);
    case Fault::VanishAtFileEnd: return vanishAt(AR_CMD_SENDFILE_END, sim);
    case Fault::VanishInStatus: return vanishAt(AR_CMD_UPGRADE_STATUS, sim);
    case Fault::UnpluggedInStatus: return vanishAt(AR_CMD_UPGRADE_STATUS, sim, true);
    case Fault::Duplicates: return sim->setDuplicateReplies(true);
    case Fault::Late: return sim->setReplyDelay(ackWaitMs * 3 / 2);
    case Fault::Slow: return sim->setReplyDelay(ackWaitMs / 2);
    case Fault::OtherSeq: return sim->setAckSeqOffset(1);
    case Fault::BadLength:
        QObject::connect(sim, &DeviceSimulator::frameReceived, sim, [sim](const SimFrameRecord &frame) {
            if (frame.command == AR_CMD_REMOTE_UPGRADE)
                sim->corruptNextReplyLengths(1); // the announcement's acknowledgement
        }, Qt::DirectConnection);
        return;
    case Fault::Refusal: return sim->refuseNext(1, AR_CMD_SENDFILE_DATA);
    case Fault::DeviceError:
        return sim->setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, STAT_IN_PROGRESS}, {0, UPGRATE_ERR_FLASH_ERR}});
    case Fault::AbnormalEnd: return sim->setStatusScript({{40, STAT_IN_PROGRESS}, {-1, STAT_IN_PROGRESS}});
    case Fault::StuckAtOnePercent: return sim->setStatusScript({{50, STAT_IN_PROGRESS}});
    case Fault::UnknownStatusCode: return sim->setStatusScript({{0, 7}});
    case Fault::Healthy: return;
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

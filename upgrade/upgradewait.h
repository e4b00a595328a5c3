#ifndef UPGRADEWAIT_H
#define UPGRADEWAIT_H

#include <QMetaType>
#include <QString>

// What an upgrade is waiting for, as the user is told: the seconds waited
// so far and the most it waits (program time).
struct UpgradeWait
{
    enum class Phase {
        None,         // no wait: the last one is over
        Restart,      // from the reboot request until the restarted device's port has settled
        Verdict,      // for the device's verdict on the file
        Status,       // the device's upgrade status has stood still
        Disconnected, // the device's port went during its upgrade: for it to come back
        RestartCheck, // for the restarted device to tell its firmware
    };

    Phase phase = Phase::None;
    qint64 seconds = 0;
    qint64 limitSeconds = 0;

    bool isOver() const { return phase == Phase::None; }
    // The phase's name in the command's events: "restart", "verdict", ...
    QString name() const;
    // The wait in words, with its seconds and its limit (translated).
    QString text() const;
};

Q_DECLARE_METATYPE(UpgradeWait)

#endif // UPGRADEWAIT_H

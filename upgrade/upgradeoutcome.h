#ifndef UPGRADEOUTCOME_H
#define UPGRADEOUTCOME_H

#include "restartcheck.h"

#include <QMetaType>
#include <QString>

// How one upgrade ended. The engine decides it once, when the upgrade's
// sequence ends, and hands it on by value: the window shows it, the command
// turns it into its exit code, the ledger writes it.
struct UpgradeOutcome
{
    enum class Kind {
        Succeeded,     // the device reported its upgrade done, or took a package's last part
        NotStarted,    // refused before anything was sent: the file or package is unusable
        FileChanged,   // the file lost the bytes pinned at the start: no end of file was sent
        TransferFailed, // a frame went unacknowledged, the file could not be read again, no verdict
        DeviceRefused, // the device refused the file after every resend
        NoReboot,      // the device never confirmed the reboot into its upgrade state
        NotBack,       // the device did not come back after that reboot
        StatusTimeout, // the device's status stood still too long
        Disconnected,  // the device's port went in its upgrade and did not come back in time
        AbnormalEnd,   // the device reported an abnormal end
        DeviceError,   // the device reported a numbered failure (`code`)
        TimedOut,      // ended because the time given to the device's upgrade ran out
        Cancelled,     // ended by the user
    };

    Kind kind = Kind::Cancelled;
    int code = 0;      // DeviceError: the device's status code
    QString hint;      // what the user is told of a failure (translated)
    // Succeeded: what the check of the restarted device came to, when it ran
    // (Cancelled: it did not run).
    RestartCheck::Result check;

    bool succeeded() const { return kind == Kind::Succeeded; }
    bool restartChecked() const { return check.outcome != RestartCheck::Outcome::Cancelled; }
    bool verified() const { return check.outcome == RestartCheck::Outcome::Verified; }
    // Nothing reached the device: it runs what it ran before.
    bool nothingSent() const { return kind == Kind::NotStarted; }

    // The outcome in one line, as the command and the ledger give it: the
    // success text or the check's verdict, or the failure's hint.
    QString summary() const;

    static UpgradeOutcome of(Kind kind, const QString &hint, int code = 0);
    static UpgradeOutcome success() { return of(Kind::Succeeded, QString()); }
    static UpgradeOutcome cancelled() { return of(Kind::Cancelled, QString()); }
    static UpgradeOutcome timedOut();
    // The page's success text (translated).
    static QString successText();
};

Q_DECLARE_METATYPE(UpgradeOutcome)

#endif // UPGRADEOUTCOME_H

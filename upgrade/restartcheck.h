#ifndef RESTARTCHECK_H
#define RESTARTCHECK_H

#include "deviceidentitystore.h"
#include "upgradechannel.h"

#include <QMetaType>
#include <QString>

class DeviceLink;
class ReplyMailbox;

// After a successful upgrade the device restarts by itself. The check waits
// for it to come back (bounded), asks who it is and compares the firmware it
// reports with the version the file's name announced. It runs on the
// sequence's thread and ends early when the run flag is cleared.
class RestartCheck
{
public:
    enum class Outcome { Verified, OtherFirmware, NoAnswer, Cancelled };

    struct Result
    {
        Outcome outcome = Outcome::Cancelled;
        QString fileName;            // whose announced version was looked for
        DeviceIdentityInfo identity; // as the restarted device reported it
    };

    // The device is given the reboot's pause to go away, then asked until it
    // answers, within the reconnection limit (program time).
    static constexpr int PauseMs = UpgradeChannel::RebootPauseMs;
    static constexpr int LimitMs = PauseMs + UpgradeChannel::ReconnectLimitMs;

    RestartCheck(DeviceLink &link, ReplyMailbox &mailbox) : m_link(link), m_mailbox(mailbox) {}

    Result run(const QString &fileName);

    // What the check came to, as the user reads it after the upgrade's
    // success text (translated); empty for a check that was ended.
    static QString describe(const Result &result);
    static QString firmwareOf(const Result &result) { return fixedFieldText(result.identity.firmware); }

private:
    DeviceLink &m_link;
    ReplyMailbox &m_mailbox;
};

Q_DECLARE_METATYPE(RestartCheck::Result)

#endif // RESTARTCHECK_H

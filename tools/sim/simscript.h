#ifndef SIMSCRIPT_H
#define SIMSCRIPT_H

#include "replyshape.h"
#include "simtypes.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <optional>

// What the test has told the device to do: which requests to refuse or
// ignore, how to shape the replies, which verdicts and upgrade states to
// report, and how to reboot. Counts limited to one command take precedence
// over counts for AnyCommand. Not thread-safe; SimState guards it.
class SimScript
{
public:
    // percent, status as carried by ar_upgrade_status
    using StatusStep = QPair<int, int>;

    enum class Disposition { Answer, Refuse, Ignore };

    // What the device does once it has reported a single image's upgrade
    // done: stay as it is, or restart by itself and come back with the
    // firmware the accepted file's name announced, or with its old one (an
    // upgrade that did not take).
    enum class AfterUpgrade { Stay, RestartWithNewFirmware, RestartWithOldFirmware };

    static constexpr int DefaultRebootDelayMs = 1000;

    static QList<StatusStep> defaultStatusScript();

    // Decides the fate of one received request. Silence wins; otherwise a
    // pending drop, then a pending refusal, is used up.
    Disposition dispose(quint32 command);

    // Silences one command, or every command with AnyCommand. Turning
    // AnyCommand off lifts every silence.
    void setSilent(bool silent, quint32 command);
    // Replaces the pending count for the command.
    void refuseNext(int count, quint32 command);
    void dropNext(int count, quint32 command);

    void setVerdicts(const QList<int> &verdicts) { m_verdicts = verdicts; }
    // The next scripted verdict, or nothing when the checksum rule decides.
    std::optional<int> takeVerdict();

    // An empty script means the default one. Starts the walk afresh.
    void setStatusScript(const QList<StatusStep> &steps);
    // The next step of the walk; once it is over the last step repeats.
    StatusStep nextStatus();
    void restartStatus() { m_statusIndex = 0; }

    ReplyShape &shape() { return m_shape; }
    const ReplyShape &shape() const { return m_shape; }

    int rebootDelayMs() const { return m_rebootDelayMs; }
    void setRebootDelayMs(int ms) { m_rebootDelayMs = qMax(0, ms); }
    bool rebootOnRequest() const { return m_rebootOnRequest; }
    void setRebootOnRequest(bool reboot) { m_rebootOnRequest = reboot; }
    AfterUpgrade afterUpgrade() const { return m_afterUpgrade; }
    void setAfterUpgrade(AfterUpgrade after) { m_afterUpgrade = after; }
    // The firmware a package brings: its part files announce none. Taken on
    // like an announced one; empty: a package leaves the firmware as it is.
    const QByteArray &packageFirmware() const { return m_packageFirmware; }
    void setPackageFirmware(const QByteArray &firmware) { m_packageFirmware = firmware; }

private:
    static bool takeOne(QHash<quint32, int> &counts, quint32 command);

    QSet<quint32> m_silent;
    QHash<quint32, int> m_drops;
    QHash<quint32, int> m_refusals;
    QList<int> m_verdicts;
    QList<StatusStep> m_statusScript = defaultStatusScript();
    int m_statusIndex = 0;
    ReplyShape m_shape;
    int m_rebootDelayMs = DefaultRebootDelayMs;
    bool m_rebootOnRequest = true;
    AfterUpgrade m_afterUpgrade = AfterUpgrade::Stay;
    QByteArray m_packageFirmware;
};

#endif // SIMSCRIPT_H

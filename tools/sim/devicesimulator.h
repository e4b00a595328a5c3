#ifndef DEVICESIMULATOR_H
#define DEVICESIMULATOR_H

#include "linkmodel.h"
#include "simscript.h"
#include "simstate.h"
#include "simtypes.h"

#include <QObject>
#include <QThread>

class SimEngine;

// A device on a pseudo-terminal, answering the program's requests from its
// own thread, so it keeps answering while the caller blocks on a port.
// Every member may be called from any thread but the simulator's own;
// settings apply to the requests that arrive after the call. Fault settings
// limited to one command take AnyCommand for "every command".
class DeviceSimulator : public QObject
{
    Q_OBJECT

public:
    explicit DeviceSimulator(const DeviceIdentity &identity = DeviceIdentity(),
                             QObject *parent = nullptr);
    // Takes the port and the link away.
    ~DeviceSimulator() override;

    // Creates the pty, and a symbolic link to it at `linkPath` when given.
    // On failure the reason is in errorString().
    bool start(const QString &linkPath = QString());
    QString errorString() const;

    QString slavePath() const;
    QString linkPath() const;
    bool isPresent() const;

    DeviceIdentity identity() const;
    void setIdentity(const DeviceIdentity &identity);

    // Leaves requests unanswered until lifted; they are still recorded.
    void setSilent(bool silent, quint32 command = AnyCommand);
    void setReplyDelay(int ms);
    // Refuse, or ignore, the next `count` transmissions. Refused and ignored
    // requests never reach the device: they change nothing there.
    void refuseNext(int count, quint32 command = AnyCommand);
    void dropNextAcks(int count, quint32 command = AnyCommand);
    void setGarbageBeforeReplies(int bytes);
    void setSplitReplies(bool split);
    // Both copies go out in one write, so one read sees two frames.
    void setDuplicateReplies(bool duplicate);
    // Answers carry the request's sequence number plus `offset`.
    void setAckSeqOffset(int offset);
    // The next `count` replies carry an impossible length field.
    void corruptNextReplyLengths(int count);

    // Verdicts for the next file-end requests; then the checksum rule again.
    void setVerdicts(const QList<int> &verdicts);
    // Upgrade states to report, in order; the last one repeats. Restarts the walk.
    void setStatusScript(const QList<SimScript::StatusStep> &steps);

    void setRebootDelay(int ms);
    // Off: a reboot request is acknowledged and nothing else happens.
    void setRebootOnRequest(bool reboot);
    // Stay (the default) keeps the device as it is after a single image's
    // success; the others restart it then (see SimScript::AfterUpgrade).
    void setAfterUpgrade(SimScript::AfterUpgrade after);
    // What a package brings, which its parts cannot announce (see SimScript).
    void setPackageFirmware(const QByteArray &firmware);

    // Delays both directions as a USB link would (none by default). Set it
    // before the program talks: bytes on the old link are dropped.
    void setLinkModel(const LinkModel &model);

    // The port disappears as if unplugged, until reappear().
    void vanish();
    void reappear();

    QList<SimFrameRecord> frames() const;
    void clearFrames();
    QList<SimReceivedFile> receivedFiles() const;
    // Modes of the reboot requests acted on, in order.
    QStringList rebootModes() const;
    int rebootCount() const;

signals:
    // Every frame received, answered or not; emitted on the simulator's
    // thread before the answer (connect directly to act before it).
    void frameReceived(const SimFrameRecord &frame);
    // A reboot request is being acted on; the port goes next.
    void rebooting(const QString &mode);
    void appeared(const QString &slavePath);
    void vanished();
    // Back after a reboot, on a new pty.
    void rebooted(const QString &slavePath);
    // The program's port was just written to (reply bytes, after the link),
    // or read from (the program's bytes, before the link); emitted on the
    // simulator's thread: connect directly to time them.
    void wroteToProgram();
    void readFromProgram();
    // Bytes came out of the link model (to the device, or to the program's
    // port) this long after they were due: the model's own precision.
    void linkLate(bool toDevice, double us);

private:
    template <typename Change>
    void changeScript(Change change);
    // Runs `work` in the simulator thread and waits for it.
    template <typename Work>
    void inEngine(Work work);

    SimState m_state;
    QThread m_thread;
    SimEngine *m_engine; // lives in m_thread, deleted as it finishes
    QString m_error;
};

#endif // DEVICESIMULATOR_H

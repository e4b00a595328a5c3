#ifndef SIMENGINE_H
#define SIMENGINE_H

#include "delayline.h"
#include "devicelinkfile.h"
#include "devicemodel.h"
#include "frameassembler.h"
#include "ptychannel.h"
#include "replyqueue.h"
#include "simtypes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

struct SimState;

// The simulated device at work, inside the simulator thread: it reads
// requests from the pty, answers them as the script says, and takes its port
// away and brings it back for reboots and unplugging.
class SimEngine : public QObject
{
    Q_OBJECT

public:
    explicit SimEngine(SimState *state, QObject *parent = nullptr);

    // Creates the port, and the link when a path is given.
    bool open(const QString &linkPath, QString *error);
    void vanish();
    void reappear();
    // Bytes on the link when it changes are dropped.
    void setLinkModel(const LinkModel &model);

signals:
    void frameReceived(const SimFrameRecord &frame);
    void rebooting(const QString &mode);
    void appeared(const QString &slavePath);
    void vanished();
    void rebooted(const QString &slavePath);
    // Reply bytes have just been written to the program's port, after the link.
    void wroteToProgram();
    // Bytes the program wrote have just been read, before the link.
    void readFromProgram();
    // Bytes came out of the modelled link this long after they were due.
    void linkLate(bool toDevice, double us);

private:
    static void corruptLength(QByteArray *reply);
    void arrive(const QByteArray &bytes);
    void receive(const QByteArray &bytes);
    void send(const QByteArray &bytes);
    void deliverReply(const QByteArray &bytes);
    // How bytes out of a link reach `handler` on this thread.
    DelayLine::Deliver deliverTo(void (SimEngine::*handler)(const QByteArray &));
    void dropLinkTraffic();
    void handle(const ReceivedFrame &frame);
    // The reply frame, or nothing when the device stays quiet; the state
    // must be locked.
    QByteArray replyTo(const ReceivedFrame &frame);
    void checkRebootReady();
    void reboot();
    void comeBack();
    bool createPort(QString *error);
    void removePort();

    SimState *m_state;
    PtyChannel m_channel;
    ReplyQueue m_replies;
    FrameAssembler m_assembler{FrameAssembler::Logging::Quiet};
    DeviceModel m_model;
    DeviceLinkFile m_link;
    // Raised once the links are cleared: deliveries queued before it are
    // dropped. The lines' threads read it: it outlives them.
    std::atomic<quint64> m_linkEpoch{0};
    int m_repliesOnLink = 0;
    std::unique_ptr<DelayLine> m_toDevice;
    std::unique_ptr<DelayLine> m_toProgram;

    // Between acknowledging a reboot request and dropping the port.
    QTimer m_rebootPoll;
    QElapsedTimer m_ackWritten;
    QElapsedTimer m_drained; // since the program's side last held unread bytes; invalid: it holds some
    QString m_rebootMode;
    QTimer m_comeBack;
};

#endif // SIMENGINE_H

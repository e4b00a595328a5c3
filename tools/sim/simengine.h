#ifndef SIMENGINE_H
#define SIMENGINE_H

#include "devicelinkfile.h"
#include "devicemodel.h"
#include "frameassembler.h"
#include "ptychannel.h"
#include "replyqueue.h"
#include "simtypes.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

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

signals:
    void frameReceived(const SimFrameRecord &frame);
    void rebooting(const QString &mode);
    void appeared(const QString &slavePath);
    void vanished();
    void rebooted(const QString &slavePath);

private:
    static void corruptLength(QByteArray *reply);
    void receive(const QByteArray &bytes);
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

    // Between acknowledging a reboot request and dropping the port.
    QTimer m_rebootPoll;
    QElapsedTimer m_ackWritten;
    QElapsedTimer m_drained; // since the program's side last held unread bytes; invalid: it holds some
    QString m_rebootMode;
    QTimer m_comeBack;
};

#endif // SIMENGINE_H

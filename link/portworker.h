#ifndef PORTWORKER_H
#define PORTWORKER_H

#include "ARNetType.h"
#include "frameassembler.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <type_traits>

class DeviceIdentityStore;
class SerialPortChannel;

// One run of bytes handed to the port.
struct PortWrite
{
    qint64 size = 0;
    qint64 accepted = -1; // -1: the write failed
    quint64 mark = 0;     // what PortWorker::waitUntilWritten() waits for
    QString error;
};

// One transmission of a request, written on the port's thread.
struct PortTransmission
{
    QList<PortWrite> writes;
    bool clean = false;       // every run accepted whole and passed to the device
    QDeadlineTimer writtenAt; // when it was handed to the port
};

// The serial port and its receive path, on a thread of their own (the worker
// is moved there): opens, closes and writes of every other thread are handed
// to it in order, so the port is never touched by two threads. Received
// bytes are reassembled and dispatched on that thread as they arrive: the
// device identity goes to the store, acknowledgements to the recorder, the
// rest out as signals.
class PortWorker : public QObject
{
    Q_OBJECT

public:
    using AckRecorder = std::function<void(const ar_protocol_t *header)>;
    using TransmissionDone = std::function<void(const PortTransmission &transmission)>;

    // How long a write may take to reach the device before the port counts as stuck.
    static constexpr int WriteCompletionTimeoutMs = 30000;

    PortWorker(DeviceIdentityStore *identity, AckRecorder recordAck);

    // Runs `function` on the port's thread and returns its result; at once
    // when called there.
    template <typename Function>
    auto call(Function function) -> decltype(function());

    bool open(const QString &portName);
    bool isOpen();
    void close();
    bool isWritable();

    // While reception is off, received bytes are read and dropped.
    void startReception();
    void stopReception() { m_receiving.store(false); }
    bool isReceiving() const { return m_receiving.load(); }
    // Bytes the port holds that no pass has read yet.
    qint64 unreadBytes();

    // Writes the runs (header and payload) to the port in one piece and waits
    // for the port's thread to have done so; each run keeps its own result.
    QList<PortWrite> write(const QList<QByteArray> &runs);
    // Hands the runs to the port's thread without waiting; `done` is called
    // there with the outcome.
    void post(const QList<QByteArray> &runs, TransmissionDone done);
    // Any thread: waits until a run has gone to the device.
    bool waitUntilWritten(quint64 mark, int timeoutMs);
    // On the port's thread: writes a sealed frame at once, its header and
    // its payload as runs of their own; true when a mark has been reached.
    QList<PortWrite> writeFrame(const QByteArray &frame);
    bool isWritten(quint64 mark);
    // Logs a failed or short write; true when the whole run was accepted.
    static bool checkAccepted(const PortWrite &write);
    static void logTransmission(const PortWrite &write, int run, bool flushed);

    // One receive pass: reads what the port holds and dispatches it.
    void receivePass();
    void receiveBytes(const QByteArray &bytes);

signals:
    void upgradeStatus(ar_upgrade_status status);
    void segmentLength(int length);
    void rebootConfirmed();
    void fileVerdict(int status);
    // The port was closed, or lost; emitted on the port's thread.
    void portClosed();
    // The port passed more written bytes to the device.
    void writeProgress();

private:
    // Runs joined on the caller's thread: the caller's buffers may change
    // once it returns.
    struct JoinedRuns
    {
        QByteArray bytes;
        QList<qint64> sizes; // of each run, in order
    };
    static JoinedRuns joinRuns(const QList<QByteArray> &runs);
    QList<PortWrite> writeRuns(const JoinedRuns &runs);
    void dispatchFrame(const ReceivedFrame &frame);
    void storeIdentity(const ar_device_info &info);

    SerialPortChannel *m_channel; // a child: it lives on the port's thread
    FrameAssembler m_assembler;   // used on the port's thread only
    std::atomic<bool> m_receiving{false};
    bool m_discarding = false;    // logged once per stretch with reception off; the port's thread only
    DeviceIdentityStore *m_identity;
    AckRecorder m_recordAck;
};

template <typename Function>
auto PortWorker::call(Function function) -> decltype(function())
{
    using Result = decltype(function());
    if (QThread::currentThread() == thread())
        return function();
    if constexpr (std::is_void<Result>::value) {
        QMetaObject::invokeMethod(this, function, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(this, function, Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

#endif // PORTWORKER_H

#ifndef USBVIRTUALSERIAL_H
#define USBVIRTUALSERIAL_H

#include "ARNetType.h"
#include "frameassembler.h"
#include "serialportlister.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <atomic>

class SerialPortChannel;

Q_DECLARE_METATYPE(ar_upgrade_status)
Q_DECLARE_METATYPE(ar_device_info)

// Vendor identifier of the device being upgraded (0 when none): set by the
// upgrade page when an upgrade starts, read by the port search to find the
// device again after its reboot.
extern std::atomic<int> m_upgrade_device_vid;

// The serial link to the device. It owns a thread of its own, on which the
// serial port lives: opens, closes, reads and writes of every other thread are
// handed to it, in order, so the port is never touched by two threads. Opens,
// closes and raw writes are waited for; a request's frame is not, its sender
// waits for the acknowledgement instead. Received bytes are reassembled and
// dispatched on that thread as they arrive.
class UsbVirtualSerial : public QThread
{
    Q_OBJECT

public:
    static constexpr int RecognisedVidAbove = 7530;    // vendor identifiers 7531 ..
    static constexpr int RecognisedVidLast = 7543;     // .. 7543 are devices
    static constexpr int WriteCompletionTimeoutMs = 30000;
    static constexpr int RawWriteCompletionTimeoutMs = 1000;
    static const char DeviceManufacturer[];

    explicit UsbVirtualSerial(SharedPortLister ports = std::make_shared<SystemSerialPortLister>());
    ~UsbVirtualSerial() override;

    // Port discovery and presence.
    QString searchUsbVirtualSerialPort(bool isfirst);
    quint16 searchUsbDevice();
    static bool isRecognisedVendor(int vid);
    int get_usb_vid() const;
    void set_usb_vid(int vid);

    // The port. Each call runs on the link's thread and returns its result.
    bool openSerialPort(const QString &portName);
    bool openmultSerialPort(const QStringList &portNames);
    bool SerialPortIsOpen();
    void closeSerialPort();
    void reopenSerialPort();

    // Reception: received bytes are read and dispatched only while started.
    void startSerialRecv();
    void stopSerialRecv();
    bool isSerialRecvStarted() const { return m_startSerialRecv.load(); }

    // Sends request `cmd` and waits for its acknowledgement, transmitting it up
    // to `retryNumber` times (0 counts as 1) with `timeout_ms` each.
    // Returns 0 when acknowledged, -1 otherwise.
    qint32 commandSerialSend(unsigned int cmd, quint16 type, quint16 format, quint16 user_id,
                             char *date, unsigned int len, unsigned int retryNumber,
                             unsigned int timeout_ms);
    // True if a positive acknowledgement for `seq` arrives within `timeoutMs`;
    // false at once on a negative one.
    bool waitForACK(quint32 seq, int timeoutMs);
    quint32 sequenceNumber() const { return m_seq.load(); }

    // Raw writers: no acknowledgement is waited for.
    void sendAckResponse(uint32_t seq);
    qint64 SerialSend(char *data, qint64 len);
    qint64 SerialSend_V1(ar_protocol_t head, char *data, qint64 len);

    void crc32_init();
    quint32 crc32_calculate(char *data, quint32 length);
    quint32 crc32_calculate2date(char *data, quint32 length, char *data1, quint32 length1);

    // One receive pass: reads what the port holds and dispatches it.
    void commandSerialReceive();
    // Reassembles received bytes and dispatches every complete frame.
    void receiveBytes(const QByteArray &bytes);
    void handleReceivedPacket(const ar_protocol_t *header);

    // The device identity from the last device-information reply.
    void setDeviceInfo(const char *firmwareInfo, const char *serialNumber,
                       const char *hardwareVersion, int cputemp);
    void getDeviceInfo(char *firmwareInfo, char *serialNumber, char *hardwareVersion, int *cputemp);
    bool getDeviceInfoFlag() const { return m_setDeviceInfoFlag.load(); }
    void setDeviceInfoFlag(bool flag) { m_setDeviceInfoFlag.store(flag); }
    int getReceiveMaxSize() const { return receiveMaxSize.load(); }
    void resetDeviceInfoPara();
    void print_deviceinfo_binary(const ar_device_info *info);

signals:
    // Declared for device discovery announcements; nothing sends them yet.
    void sig_newSerialDeviceFound(QMap<QString, QString> devices);
    void sig_newSerialDeviceFound_V1(ar_device_info deviceinfo);
    // Emitted on the link's thread; the records travel by value.
    void sig_sendUpgradeProcess(ar_upgrade_status upgradestatus);
    void sig_SegLength(int length);
    void sig_reboot();
    void sig_receiveDateInfo(int status);
    void sig_sendtextstatus(int sendtextstatus);

protected:
    void run() override;

private:
    // One run of bytes handed to the port.
    struct QueuedWrite
    {
        qint64 size = 0;
        qint64 accepted = -1; // -1: the write failed
        quint64 mark = 0;     // what waitUntilWritten() waits for
        QString error;
    };
    // One transmission of a request, written on the link's thread.
    struct Transmission
    {
        QList<QueuedWrite> writes;
        bool clean = false; // every run accepted whole and passed to the device
        QDeadlineTimer writtenAt; // when it was handed to the port
    };
    enum class AckResult { Positive, Negative, None };
    static constexpr quint64 NoTransmission = ~quint64(0);

    // Runs (header and payload) joined on the caller's thread for one write.
    struct JoinedRuns
    {
        QByteArray bytes;
        QList<qint64> sizes; // of each run, in order
    };
    static JoinedRuns joinRuns(const QList<QByteArray> &runs);

    // Link thread: writes the runs to the port in one piece; each run keeps
    // its own result and mark.
    QList<QueuedWrite> writeRuns(const JoinedRuns &runs);
    // Any other thread: writeRuns() on the link's thread, waited for.
    QList<QueuedWrite> queueWrites(const QList<QByteArray> &runs);
    // Hands the runs to the link's thread without waiting. The outcome is kept
    // as transmission `id`; one that did not go out cleanly wakes the sender.
    void postTransmission(quint64 id, const QList<QByteArray> &runs);
    Transmission takeTransmission(quint64 id);
    // Waits for the acknowledgement of `seq`, `timeoutMs` from the moment
    // transmission `transmission` went to the port; one that did not go out
    // cleanly ends the wait early with None.
    AckResult waitForAck(quint32 seq, int timeoutMs, quint64 transmission);
    // Logs a failed or short write; true when the whole run was accepted.
    static bool checkAccepted(const QueuedWrite &write);
    static void logTransmission(const QueuedWrite &write, int run, bool flushed);
    // Waits until a transmission's run has reached the device; a run that
    // does not in time makes the link reopen the port.
    void confirmTransmission(const QueuedWrite &write, int run);
    qint64 rawWrite(const QByteArray &bytes);
    void dispatchFrame(const ReceivedFrame &frame);
    template <typename Function>
    auto onLinkThread(Function function) -> decltype(function());

    SharedPortLister m_ports;
    SerialPortChannel *m_channel = nullptr; // lives on the link thread
    QSemaphore m_channelReady;

    std::atomic<int> receiveMaxSize{0};
    std::atomic<bool> m_setDeviceInfoFlag{false};
    QMutex m_identityMutex; // guards the identity fields below
    int m_cputemp = -100;
    char m_firmwareInfo[64] = {};
    char m_serialNumber[32] = {};
    char m_hardwareVersion[32] = {};

    QMap<QString, SerialPortChannel *> serialPorts; // used on the link thread only
    std::atomic<bool> m_startSerialRecv{false};
    FrameAssembler m_receiveBuffer;                  // used on the link thread only

    QMutex ackMutex;
    QWaitCondition ackArrived;
    QMap<quint32, bool> ackStatus;
    QHash<quint64, Transmission> m_transmissions; // outcomes not yet taken by their senders
    bool m_senderAwaitsWrite = false;              // a sender's wait passed before its write
    std::atomic<quint64> m_transmissionCount{0};

    std::atomic<quint32> m_seq{0};
    std::atomic<int> m_vid{0};
    QMutex m_portNameMutex;
    QString m_portName;
};

#endif // USBVIRTUALSERIAL_H

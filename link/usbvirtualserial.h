#ifndef USBVIRTUALSERIAL_H
#define USBVIRTUALSERIAL_H

#include "ARNetType.h"
#include "devicelink.h"
#include "portfinder.h"
#include "requestsender.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

class PortWorker;

Q_DECLARE_METATYPE(ar_upgrade_status)
Q_DECLARE_METATYPE(ar_device_info)

// The serial link to the device, as the rest of the program sees it. It finds
// the device's port (PortFinder), keeps the port and its receive path on a
// thread of their own (PortWorker), sends requests with acknowledgement
// (RequestSender) and holds the device identity the last reply gave
// (DeviceIdentityStore). Opens, closes and raw writes are waited for; a
// request's frame is not, its sender waits for the acknowledgement instead.
class UsbVirtualSerial : public QObject, public DeviceLink
{
    Q_OBJECT

public:
    static constexpr int RawWriteCompletionTimeoutMs = 1000;

    using PortOpening = DeviceLink::PortOpening;

    explicit UsbVirtualSerial(SharedPortLister ports = std::make_shared<SystemSerialPortLister>());
    ~UsbVirtualSerial() override;

    // Port discovery and presence.
    QString searchUsbVirtualSerialPort(bool isfirst);
    quint16 searchUsbDevice();
    int get_usb_vid() const { return m_finder.knownVendor(); }
    void set_usb_vid(int vid) override { m_finder.setKnownVendor(vid); }
    // Makes this link find only the one device (see PortFinder); before any search.
    void dedicateTo(const PortFinder::Dedication &device) { m_finder.dedicateTo(device); }

    void setUpgradeTarget(int vendorId) override { m_finder.setUpgradeTarget(vendorId); }

    // The port. Each call runs on the port's thread and returns its result.
    bool openSerialPort(const QString &portName);
    bool SerialPortIsOpen() override;
    void closeSerialPort() override;
    // Nothing changes when no port is found.
    PortOpening openDevicePort(bool anyDevice, PortAccess *access = nullptr) override;
    // openDevicePort() for any recognised device.
    void reopenSerialPort();

    // Reception: received bytes are dispatched only while started, and
    // dropped otherwise.
    void startSerialRecv() override;
    void stopSerialRecv() override;
    bool isSerialRecvStarted() const;
    // Received bytes the port holds unread: bounded whether reception is on or off.
    qint64 unreadBytes();

    // Requests with acknowledgement (see RequestSender).
    qint32 commandSerialSend(unsigned int cmd, quint16 type, quint16 format, quint16 user_id,
                             char *date, unsigned int len, unsigned int retryNumber,
                             unsigned int timeout_ms,
                             const RequestSender::Proceed &proceed = RequestSender::Proceed());
    qint32 request(unsigned command, const QByteArray &payload, unsigned transmissions,
                   unsigned timeoutMs, const Proceed &proceed = Proceed()) override;
    void wakeRequestWaits() override { m_sender.wakeWaits(); }
    std::unique_ptr<FrameQueue> openFrameQueue(unsigned command, unsigned transmissions, unsigned timeoutMs,
                                               const Proceed &proceed) override
    {
        return m_sender.openStream(command, transmissions, timeoutMs, proceed);
    }
    bool waitForACK(quint32 seq, int timeoutMs) { return m_sender.waitForAck(seq, timeoutMs); }
    quint32 sequenceNumber() const { return m_sender.sequenceNumber(); }

    // Raw writers: no acknowledgement is waited for.
    void sendAckResponse(uint32_t seq);
    qint64 SerialSend(char *data, qint64 len);
    qint64 SerialSend_V1(ar_protocol_t head, char *data, qint64 len);

    // The frame CRC (see ProtocolFrame).
    void crc32_init();
    quint32 crc32_calculate(char *data, quint32 length);
    quint32 crc32_calculate2date(char *data, quint32 length, char *data1, quint32 length1);

    // One receive pass: reads what the port holds and dispatches it.
    void commandSerialReceive();
    // Reassembles received bytes and dispatches every complete frame.
    void receiveBytes(const QByteArray &bytes);
    void handleReceivedPacket(const ar_protocol_t *header) { m_sender.recordAck(header); }

    // The device identity from the last device-information reply.
    void setDeviceInfo(const char *firmwareInfo, const char *serialNumber,
                       const char *hardwareVersion, int cputemp);
    void getDeviceInfo(char *firmwareInfo, char *serialNumber, char *hardwareVersion, int *cputemp);
    bool getDeviceInfoFlag() const { return m_identity.replyStored(); }
    void setDeviceInfoFlag(bool flag) { m_identity.setReplyStored(flag); }
    DeviceIdentityInfo deviceIdentity() override { return m_identity.info(); }
    int getReceiveMaxSize() const override { return m_identity.maxSegment(); }
    void resetDeviceInfoPara() override;
    void print_deviceinfo_binary(const ar_device_info *info);

    // The thread the port lives on.
    QThread *portThread() { return &m_thread; }

    void setReplies(Replies *replies) override;
    void releaseReplies(Replies *replies) override;

signals:
    // Emitted on the port's thread, before the receiver of the replies has
    // them; the records travel by value.
    void sig_sendUpgradeProcess(ar_upgrade_status upgradestatus);
    void sig_SegLength(int length);
    void sig_reboot();
    void sig_receiveDateInfo(int status);

private:
    qint64 rawWrite(const QByteArray &bytes);
    // Hands a reply to the receiver of the replies, if there is one.
    template <typename Hand>
    void handOver(Hand hand);

    PortFinder m_finder;
    DeviceIdentityStore m_identity;
    QThread m_thread;
    PortWorker *m_port; // lives on m_thread, deleted when it finishes
    RequestSender m_sender;
    QMutex m_repliesMutex; // a receiver is never replaced while it takes a reply
    Replies *m_replies = nullptr;
};

#endif // USBVIRTUALSERIAL_H

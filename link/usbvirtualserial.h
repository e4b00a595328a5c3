#ifndef USBVIRTUALSERIAL_H
#define USBVIRTUALSERIAL_H

#include "ARNetType.h"
#include "deviceidentitystore.h"
#include "portfinder.h"
#include "requestsender.h"

#include <QMap>
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
class UsbVirtualSerial : public QObject
{
    Q_OBJECT

public:
    static constexpr int RawWriteCompletionTimeoutMs = 1000;

    // What openDevicePort() came to. Denied: the port is there, but the
    // user may not read and write it.
    enum class PortOpening { NoPort, OpenFailed, Denied, Opened };

    explicit UsbVirtualSerial(SharedPortLister ports = std::make_shared<SystemSerialPortLister>());
    ~UsbVirtualSerial() override;

    // Port discovery and presence.
    QString searchUsbVirtualSerialPort(bool isfirst);
    quint16 searchUsbDevice();
    int get_usb_vid() const { return m_finder.knownVendor(); }
    void set_usb_vid(int vid) { m_finder.setKnownVendor(vid); }
    // Makes this link find only the one device (see PortFinder); before any search.
    void dedicateTo(const PortFinder::Dedication &device) { m_finder.dedicateTo(device); }

    // The port. Each call runs on the port's thread and returns its result.
    bool openSerialPort(const QString &portName);
    bool openmultSerialPort(const QStringList &portNames);
    bool SerialPortIsOpen();
    void closeSerialPort();
    // Finds the device's port (any recognised device when `anyDevice`, else
    // the device being upgraded), lets go of the port held now, opens the one
    // found and starts reception. Nothing changes when no port is found.
    // `access`, when given, tells of the port that failed to open.
    PortOpening openDevicePort(bool anyDevice, PortAccess *access = nullptr);
    // openDevicePort() for any recognised device.
    void reopenSerialPort();

    // Reception: received bytes are dispatched only while started, and
    // dropped otherwise.
    void startSerialRecv();
    void stopSerialRecv();
    bool isSerialRecvStarted() const;
    // Received bytes the port holds unread: bounded whether reception is on or off.
    qint64 unreadBytes();

    // Requests with acknowledgement (see RequestSender).
    qint32 commandSerialSend(unsigned int cmd, quint16 type, quint16 format, quint16 user_id,
                             char *date, unsigned int len, unsigned int retryNumber,
                             unsigned int timeout_ms,
                             const RequestSender::Proceed &proceed = RequestSender::Proceed());
    // A sender's run flag went false: its request waits no longer.
    void wakeRequestWaits() { m_sender.wakeWaits(); }
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
    int getReceiveMaxSize() const { return m_identity.maxSegment(); }
    // Forgets the identity and restarts the sequence numbers.
    void resetDeviceInfoPara();
    void print_deviceinfo_binary(const ar_device_info *info);

    // The thread the port lives on.
    QThread *portThread() { return &m_thread; }

signals:
    // Declared for device discovery announcements; nothing sends them.
    void sig_newSerialDeviceFound(QMap<QString, QString> devices);
    void sig_newSerialDeviceFound_V1(ar_device_info deviceinfo);
    // Emitted on the port's thread; the records travel by value.
    void sig_sendUpgradeProcess(ar_upgrade_status upgradestatus);
    void sig_SegLength(int length);
    void sig_reboot();
    void sig_receiveDateInfo(int status);
    void sig_sendtextstatus(int sendtextstatus);

private:
    qint64 rawWrite(const QByteArray &bytes);

    PortFinder m_finder;
    DeviceIdentityStore m_identity;
    QThread m_thread;
    PortWorker *m_port; // lives on m_thread, deleted when it finishes
    RequestSender m_sender;
};

#endif // USBVIRTUALSERIAL_H

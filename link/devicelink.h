#ifndef DEVICELINK_H
#define DEVICELINK_H

#include "ARNetType.h"
#include "deviceidentitystore.h"
#include "framequeue.h"
#include "portaccess.h"

#include <QtGlobal>
#include <functional>
#include <memory>

// What the upgrade engine and the device session need of the link to one
// device: its port, reception, requests with acknowledgement, the identity
// the device last reported and the replies a sequence waits for. The serial
// link implements it; tests put a device in memory behind it.
class DeviceLink
{
public:
    // Denied: the port is there, but the user may not read and write it.
    enum class PortOpening { NoPort, OpenFailed, Denied, Opened };
    // A request goes on transmitting and waiting while this holds (empty: always).
    using Proceed = std::function<bool()>;

    // The replies a sequence waits for, handed over as they arrive, on the
    // link's own thread: a receiver only stores them and wakes its waits.
    class Replies
    {
    public:
        virtual void statusReport(const ar_upgrade_status &status) = 0;
        virtual void segmentLength(int length) = 0;
        virtual void rebootConfirmed() = 0;
        virtual void fileVerdict(int verdict) = 0;

    protected:
        ~Replies() = default;
    };

    virtual ~DeviceLink() = default;

    // The one receiver of the replies; it stays until replaced or released.
    virtual void setReplies(Replies *replies) = 0;
    // `replies` receives no more, unless another receiver has replaced it already.
    virtual void releaseReplies(Replies *replies) = 0;

    // Finds the device's port (any recognised device when `anyDevice`, else
    // the one being upgraded), lets go of the port held now, opens the one
    // found and starts reception. `access`, when given, tells of a port that
    // failed to open.
    virtual PortOpening openDevicePort(bool anyDevice, PortAccess *access = nullptr) = 0;
    virtual bool SerialPortIsOpen() = 0;
    virtual void closeSerialPort() = 0;
    virtual void startSerialRecv() = 0;
    virtual void stopSerialRecv() = 0;

    // Sends request `command` with `payload` and waits for its
    // acknowledgement: up to `transmissions` times `timeoutMs`. Returns 0
    // when acknowledged, a negative value when not.
    virtual qint32 request(unsigned command, const QByteArray &payload, unsigned transmissions,
                           unsigned timeoutMs, const Proceed &proceed = Proceed()) = 0;
    // A request's Proceed went false: its wait ends now, not at its timeout.
    virtual void wakeRequestWaits() = 0;
    // Frames of request `command` sent back to back, each transmitted and
    // timed as request() does. By default each goes out through request().
    virtual std::unique_ptr<FrameQueue> openFrameQueue(unsigned command, unsigned transmissions, unsigned timeoutMs,
                                                       const Proceed &proceed);

    // The identity of the last device-information reply (no temperature: none).
    virtual DeviceIdentityInfo deviceIdentity() = 0;
    virtual int getReceiveMaxSize() const = 0;
    // The vendor identifier of the device the presence poller knows (0: none).
    virtual void set_usb_vid(int vid) = 0;
    // Forgets the identity and restarts the sequence numbers.
    virtual void resetDeviceInfoPara() = 0;
    // The vendor identifier of the device being upgraded, by which its port
    // is found again after a reboot (0: none).
    virtual void setUpgradeTarget(int vendorId) = 0;
};

#endif // DEVICELINK_H

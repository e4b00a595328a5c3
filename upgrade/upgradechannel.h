#ifndef UPGRADECHANNEL_H
#define UPGRADECHANNEL_H

#include "devicelink.h"
#include "upgradewait.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <memory>

class DataTransfer;
class QFile;
class ReplyMailbox;
class SentImage;
class UpgradeReport;
class WaitReport;

// The exchanges of an upgrade with the device, on the sequence's thread:
// requests, the file's segments, the reboot request, the wait for the port
// after a reboot and the wait for the file's verdict. Each blocks its thread
// and ends early when the run flag is cleared.
class UpgradeChannel
{
public:
    static constexpr unsigned RequestTransmissions = 5;
    static constexpr unsigned AckTimeoutMs = 2000;
    static constexpr unsigned SensorAckTimeoutMs = 10000;
    static constexpr int VerdictPollMs = 100;
    static constexpr int VerdictPolls = 60;
    static constexpr int PortRetryMs = 1000;
    static constexpr int PortSettleMs = 5000;
    static constexpr int RebootPauseMs = 5000; // the device needs it to go away after a reboot request
    static constexpr int ReconnectLimitMs = 300000; // as long as the reboot loop waits for its notice
    static constexpr int WaitTickMs = 1000;  // the seconds of a wait are told as they pass
    static constexpr int WaitLogEverySeconds = 5; // and written to the log view this often

    UpgradeChannel(DeviceLink &link, ReplyMailbox &mailbox, UpgradeReport &report);

    DeviceLink &link() { return m_link; }
    ReplyMailbox &mailbox() { return m_mailbox; }

    // The frame unit for the segment length the device reported.
    int getSegmentLength() const;
    // A request with its retransmissions; nothing once the run flag is cleared.
    qint32 commandUpgSendRecv(unsigned cmd, const QByteArray &payload = QByteArray());
    // The data phase of `size` bytes of `file` from its position, in
    // segments of `segmentLength` and frames of the frame unit.
    std::unique_ptr<DataTransfer> startTransfer(QFile &file, qint64 size, int segmentLength, unsigned imgType,
                                                SentImage &sent);
    // Asks the device to reboot into `reboot_mode`.
    void upgReboot(const char *reboot_mode);
    // Opens any recognised device's port again; the port may be left from
    // before the device last restarted.
    void reopenSerialPort();
    // Waits for the device's port until `limit` and lets it settle: true
    // when it is open.
    bool waitForPort(const QDeadlineTimer &limit);
    // The verdict on the end of file (ReplyMailbox::NoVerdict: none in time).
    int waitReceiveDateResponse();
    // Tells the user of a wait in `phase` that lasts at most `limitMs`, every
    // second, until the result goes.
    std::unique_ptr<WaitReport> waitReport(UpgradeWait::Phase phase, int limitMs);

private:
    void reportWaiting(const UpgradeWait &wait, qint64 *loggedPeriod);

    DeviceLink &m_link;
    ReplyMailbox &m_mailbox;
    UpgradeReport &m_report;
};

#endif // UPGRADECHANNEL_H

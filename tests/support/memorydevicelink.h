#ifndef MEMORYDEVICELINK_H
#define MEMORYDEVICELINK_H

#include "ARNetType.h"
#include "devicelink.h"

#include <QByteArray>
#include <QList>
#include <QVector>
#include <QMutex>
#include <QString>
#include <climits>
#include <cstring>
#include <functional>

// The ways the device in memory fails.
enum class MemoryDeviceFailure {
    None,
    NoAnswer,       // `command` is never acknowledged
    WrongSequence,  // `command` is acknowledged under another sequence number: no acknowledgement
    NeverReboots,   // the reboot request is acknowledged, the notice never comes
    NotBack,        // after its reboot the device's port never returns
    PortLost,       // the port goes after `afterFrames` data frames
    Unplugged,      // the port goes at the `afterFrames`-th status request and never returns
    Replugged,      // as Unplugged, but the port returns at once
    FailureReport,  // a failure status (`statuses` first) comes on its own after `afterFrames` data frames
};

struct MemoryDeviceScript
{
    static constexpr int NoVerdict = INT_MIN; // in `verdicts`: that end of file is acknowledged, no verdict comes
    MemoryDeviceFailure failure = MemoryDeviceFailure::None;
    unsigned command = AR_CMD_SENDFILE_DATA;
    int afterFrames = 0;
    QVector<int> verdicts = {0};                                 // one per end of file; the last repeats
    QVector<ar_upgrade_status> statuses = {{100, STAT_DONE, {}}}; // one per status request; the last repeats
    int segmentLength = 1024;
    QByteArray firmware = "Merlow_R_Gnd_1_0_5";
    QByteArray firmwareAfter = "Merlow_R_Gnd_1_0_6"; // what it runs once it has rebooted into its upgrade
    // Called on the sequence's thread after each data frame the device took (1, 2, ...).
    std::function<void(int frame)> afterData;
};


// A device kept in memory behind the engine's link: it answers each request
// at once, on the calling thread, as the device does (the reboot notice after
// a reboot request, the verdict after an end of file, a status report after
// a status request), or fails in one of the ways a real device or port
// does. No port and no thread: an upgrade against it takes milliseconds.
class MemoryDeviceLink : public DeviceLink
{
public:
    using Failure = MemoryDeviceFailure;
    using Script = MemoryDeviceScript;

    explicit MemoryDeviceLink(Script script = Script()) : m_script(std::move(script)) {}

    // What the device received: every request's command in order, the data of
    // the last file it was sent, and the ends of file it took.
    QList<unsigned> commands() const { QMutexLocker lock(&m_mutex); return m_commands; }
    int count(unsigned command) const { return commands().count(command); }
    QByteArray fileData() const { QMutexLocker lock(&m_mutex); return m_fileData; }
    bool portOpen() const { QMutexLocker lock(&m_mutex); return m_open; }
    int upgradeTarget() const { QMutexLocker lock(&m_mutex); return m_target; }

    void setReplies(Replies *replies) override
    {
        m_replies = replies;
        if (m_replies)
            m_replies->segmentLength(m_script.segmentLength);
    }

    void releaseReplies(Replies *replies) override
    {
        if (m_replies == replies)
            m_replies = nullptr;
    }

    PortOpening openDevicePort(bool, PortAccess * = nullptr) override
    {
        QMutexLocker lock(&m_mutex);
        if ((m_rebooted && m_script.failure == Failure::NotBack) || (m_unplugged && m_script.failure == Failure::Unplugged))
            return PortOpening::NoPort;
        m_open = true;
        return PortOpening::Opened;
    }
    bool SerialPortIsOpen() override { return portOpen(); }
    void closeSerialPort() override { QMutexLocker lock(&m_mutex); m_open = false; }
    // Replies come as the answers they are: reception needs no switch here.
    void startSerialRecv() override {}
    void stopSerialRecv() override {}

    qint32 request(unsigned command, const QByteArray &payload, unsigned, unsigned, const Proceed &proceed) override
    {
        if (proceed && !proceed())
            return -1;
        if (!take(command, payload))
            return -1;
        answer(command, payload);
        if (command == AR_CMD_SENDFILE_DATA && m_script.afterData)
            m_script.afterData(m_dataFrames);
        return 0;
    }
    void wakeRequestWaits() override {}

    DeviceIdentityInfo deviceIdentity() override
    {
        DeviceIdentityInfo identity;
        const QByteArray firmware = upgraded() ? m_script.firmwareAfter : m_script.firmware;
        std::memcpy(identity.firmware.data(), firmware.constData(),
                    size_t(qMin<int>(firmware.size(), int(identity.firmware.size()) - 1)));
        identity.cpuTemp = 40;
        return identity;
    }
    int getReceiveMaxSize() const override { return m_script.segmentLength; }
    void set_usb_vid(int) override {}
    void resetDeviceInfoPara() override {}
    void setUpgradeTarget(int vendorId) override { QMutexLocker lock(&m_mutex); m_target = vendorId; }

private:
    bool upgraded() const
    {
        QMutexLocker lock(&m_mutex);
        return m_commands.contains(AR_CMD_UPGRADE_STATUS) || m_commands.count(AR_COMMAND_GET_ACTIVE) > 1;
    }

    // Records a request the device takes; false when it never answers it.
    bool take(unsigned command, const QByteArray &payload)
    {
        QMutexLocker lock(&m_mutex);
        if (!m_open)
            return false;
        m_commands.append(command);
        if (command == AR_CMD_SENDFILE_START)
            m_fileData.clear();
        if (command == AR_CMD_SENDFILE_DATA) {
            ++m_dataFrames;
            if (m_script.failure == Failure::PortLost && m_dataFrames > m_script.afterFrames) {
                m_open = false;
                return false;
            }
            m_fileData += payload;
        }
        const bool unplugs = m_script.failure == Failure::Unplugged || m_script.failure == Failure::Replugged;
        if (unplugs && command == AR_CMD_UPGRADE_STATUS && ++m_statusRequests == m_script.afterFrames) {
            m_open = false;
            m_unplugged = true;
            return false;
        }
        const bool unanswered = m_script.failure == Failure::NoAnswer || m_script.failure == Failure::WrongSequence;
        return !(unanswered && command == m_script.command);
    }

    void answer(unsigned command, const QByteArray &payload)
    {
        switch (command) {
        case AR_COMMAND_GET_ACTIVE:
            if (m_script.failure != Failure::NeverReboots && payload.startsWith("clean")) {
                QMutexLocker lock(&m_mutex);
                m_rebooted = true;
                m_open = false; // its port goes with the reboot
                lock.unlock();
                m_replies->rebootConfirmed();
            }
            return;
        case AR_CMD_SENDFILE_DATA:
            if (m_script.failure == Failure::FailureReport && m_dataFrames == m_script.afterFrames)
                m_replies->statusReport(m_script.statuses.first());
            return;
        case AR_CMD_SENDFILE_END:
            if (const int verdict = next(m_script.verdicts, &m_verdictsGiven); verdict != Script::NoVerdict)
                m_replies->fileVerdict(verdict);
            return;
        case AR_CMD_UPGRADE_STATUS:
            m_replies->statusReport(next(m_script.statuses, &m_statusesGiven));
            return;
        default:
            return;
        }
    }

    template <typename T>
    static T next(const QVector<T> &list, int *given)
    {
        return list.at(qMin((*given)++, list.size() - 1));
    }

    Script m_script;
    Replies *m_replies = nullptr;
    mutable QMutex m_mutex;
    QList<unsigned> m_commands;
    QByteArray m_fileData;
    bool m_open = false;
    bool m_rebooted = false;
    bool m_unplugged = false;
    int m_statusRequests = 0;
    int m_target = 0;
    int m_dataFrames = 0;
    int m_verdictsGiven = 0;
    int m_statusesGiven = 0;
};

#endif // MEMORYDEVICELINK_H

#include "upgradeprocess.h"

#include "logging.h"
#include "usbvirtualserial.h"
#include "waitreport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

UpgradeProcess::UpgradeProcess(UsbVirtualSerial *serial, std::shared_ptr<const UpgradeClock> clock,
                               QObject *parent)
    : QObject(parent)
    , m_upgUsbVirtualSerial(serial)
    , m_clock(std::move(clock))
{
    connect(serial, &UsbVirtualSerial::sig_sendUpgradeProcess, this,
            &UpgradeProcess::onsendUpgradeProcess, Qt::DirectConnection);
    connect(serial, &UsbVirtualSerial::sig_SegLength, this, &UpgradeProcess::onsendSegLength,
            Qt::DirectConnection);
    connect(serial, &UsbVirtualSerial::sig_reboot, this, &UpgradeProcess::onUpgreBoot,
            Qt::DirectConnection);
    connect(serial, &UsbVirtualSerial::sig_receiveDateInfo, this,
            &UpgradeProcess::onUpgreceiveDateInfo, Qt::DirectConnection);
}

UpgradeProcess::~UpgradeProcess()
{
    delete binFile;
}

// ---- flags -----------------------------------------------------------------------

void UpgradeProcess::setRun(bool run)
{
    bRun.store(run);
    wake();
}

void UpgradeProcess::setBinFilePath(QString filePath, QString fileName)
{
    binFilePath = std::move(filePath);
    binFileName = std::move(fileName);
}

ar_upgrade_status UpgradeProcess::latestStatus() const
{
    QMutexLocker lock(&m_statusMutex);
    return upgrade_status;
}

bool UpgradeProcess::waitFor(const std::function<bool()> &ready, int programMs)
{
    QDeadlineTimer deadline(m_clock->realMs(programMs));
    QMutexLocker lock(&m_wakeMutex);
    while (!ready()) {
        if (!bRun.load() || deadline.hasExpired())
            return false;
        m_wakeUp.wait(&m_wakeMutex, deadline);
    }
    return true;
}

void UpgradeProcess::wake()
{
    QMutexLocker lock(&m_wakeMutex);
    m_wakeUp.wakeAll();
}

void UpgradeProcess::pause(int programMs)
{
    waitFor([] { return false; }, programMs);
}

// ---- transfer primitives ---------------------------------------------------------

int UpgradeProcess::getSegmentLength() const
{
    static const int Units[] = {1048576, 512000, 409600, 307200, 204800, 102400,
                                51200,   40960,  30720,  20480,  10240};
    const int length = m_segLength.load();
    if (length == 4096)
        return 4096;
    for (int unit : Units)
        if (length >= unit)
            return unit;
    return DefaultSegmentLength;
}

qint32 UpgradeProcess::commandUpgSendRecv(unsigned int cmd, unsigned short type,
                                          unsigned short format, char *date,
                                          unsigned int dataLenght)
{
    if (!bRun.load())
        return -1; // an ended sequence sends nothing more
    return m_upgUsbVirtualSerial->commandSerialSend(cmd, type, format, 0, date, dataLenght,
                                                    RequestTransmissions,
                                                    unsigned(m_clock->realMs(AckTimeoutMs)));
}

int UpgradeProcess::commandSendWithFileRecv(unsigned int cmd, unsigned int type, unsigned int format,
                                            QFile *file, unsigned int segmentLen, unsigned int imgType)
{
    const unsigned timeoutMs = unsigned(m_clock->realMs(
        imgType == IMG_TAREL_8333_SENSOR ? SensorAckTimeoutMs : AckTimeoutMs));
    const int segUnitLength = getSegmentLength();
    LOG_INFO << "segUnitLength" << segUnitLength;
    QByteArray buffer(qMin<qint64>(segUnitLength, qMax(1u, segmentLen)), Qt::Uninitialized);

    unsigned int left = segmentLen;
    do {
        if (!bRun.load())
            return -1; // an ended sequence sends nothing more
        const qint64 read = file->read(buffer.data(), qMin<qint64>(segUnitLength, left));
        const unsigned frameBytes = unsigned(qMax<qint64>(0, read));
        const qint32 ret = m_upgUsbVirtualSerial->commandSerialSend(
            cmd, quint16(type), quint16(format), 0, buffer.data(), frameBytes,
            RequestTransmissions, timeoutMs);
        if (ret < 0) {
            LOG_INFO << "commandSerialSend send err, ret " << ret;
            return -1;
        }
        left -= qMin(left, frameBytes);
        if (frameBytes == 0)
            break; // the end of the file: nothing more to read
    } while (left > 0);
    return int(segmentLen);
}

int UpgradeProcess::waitReceiveDateResponse()
{
    const auto report = waitReport(WaitKind::DeviceVerdict);
    const bool arrived = waitFor([this] { return m_receiveStatus.load() != NoVerdict; },
                                 VerdictPolls * VerdictPollMs);
    if (!arrived)
        LOG_INFO << "waitReceiveDateResponse timeout " << VerdictPolls + 1;
    LOG_INFO << "waitReceiveDateResponse m_receiveStatus " << m_receiveStatus.load();
    return m_receiveStatus.load();
}

bool UpgradeProcess::waitSerialResponse()
{
    const auto report = waitReport(WaitKind::DeviceRestart);
    QDeadlineTimer limit(m_clock->realMs(ReconnectLimitMs));
    bool opened = false;
    while (bRun.load() && !limit.hasExpired()) {
        if (m_upgUsbVirtualSerial->openDevicePort(false) == UsbVirtualSerial::PortOpening::Opened) {
            LOG_INFO << "SerialPort Open!!!!!!";
            pause(PortSettleMs);
            if (!bRun.load())
                break;
            // A port that was still on its way out fails while settling: wait on.
            if (m_upgUsbVirtualSerial->SerialPortIsOpen()) {
                reConnStat.store(1);
                opened = true;
                break;
            }
            continue;
        }
        LOG_INFO << "SerialPort not Open";
        pause(PortRetryMs);
    }
    setResp(false);
    LOG_INFO << (opened ? "SerialPort is Open" : "SerialPort wait ended");
    return opened;
}

void UpgradeProcess::waitResponse()
{
    while (!bResponse.load()) {
        QCoreApplication::processEvents();
        if (!bRun.load())
            return;
        m_clock->sleep(ResponsePollMs);
    }
    setResp(false);
}

void UpgradeProcess::upgReboot(const char *reboot_mode)
{
    LOG_INFO << "upgReboot mode: " << reboot_mode;
    ar_device_reboot record{};
    qstrncpy(record.mode, reboot_mode, sizeof(record.mode));
    setUpgStep(AR_COMMAND_GET_ACTIVE);
    commandUpgSendRecv(AR_COMMAND_GET_ACTIVE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY,
                       reinterpret_cast<char *>(&record), sizeof(record));
}

void UpgradeProcess::resetSendData()
{
    if (binFile && binFile->isOpen())
        binFile->seek(0);
    allSendLen = 0;
    setUpgStep(AR_CMD_REMOTE_UPGRADE);
    LOG_INFO << "resetSendData...";
}

void UpgradeProcess::expectSequence()
{
    QMutexLocker lock(&m_lifecycleMutex);
    m_sequenceExpected.store(true);
    m_cancelled.store(false);
    m_pendingFinish.store(0);
}

// Starts a sequence with the run flag set, unless one runs already or the
// sequence was cancelled before it got here; both under the lock that an
// outside reset takes, so a cancel is never lost between the two.
bool UpgradeProcess::beginSequence()
{
    QMutexLocker lock(&m_lifecycleMutex);
    if (m_sequenceRunning.load()) {
        LOG_WARNING << "an upgrade sequence is already running";
        return false;
    }
    const bool cancelledBeforeStart = m_sequenceExpected.exchange(false) && m_cancelled.load();
    if (cancelledBeforeStart) {
        finishReset(m_pendingFinish.load());
        m_cancelled.store(false);
        return false;
    }
    m_sequenceRunning.store(true);
    m_sequenceThread.store(QThread::currentThread());
    clearUpgradeState();
    setRun(true);
    return true;
}

bool UpgradeProcess::resumeRun()
{
    QMutexLocker lock(&m_lifecycleMutex);
    if (m_cancelled.load())
        return false;
    setRun(true);
    return true;
}

// Nothing of an earlier upgrade may decide this one: a status, verdict or
// clock left from it would end a healthy upgrade at once.
void UpgradeProcess::clearUpgradeState()
{
    clearFileState();
    m_lastStatus = -1;
    m_lastPercent = -1;
    m_lastStatusTime = QDateTime();
    m_resend = 0;
    m_fileAccepted.store(false);
    m_negativeReported.store(false);
    m_cancelled.store(false);
    m_pendingFinish.store(0);
}

void UpgradeProcess::endSequence(int upgrade_finish, bool reset)
{
    QMutexLocker lock(&m_lifecycleMutex);
    m_sequenceRunning.store(false);
    m_sequenceThread.store(nullptr);
    // A device the user let go is not held: the sequence may have opened its
    // port again before it saw the cancel.
    if (m_cancelled.load())
        m_upgUsbVirtualSerial->closeSerialPort();
    if (reset)
        finishReset(qMax(upgrade_finish, m_pendingFinish.load()));
}

void UpgradeProcess::resetUpgradeParameters(int upgrade_finish)
{
    QMutexLocker lock(&m_lifecycleMutex);
    const bool outside = m_sequenceThread.load() != QThread::currentThread();
    if ((m_sequenceRunning.load() || m_sequenceExpected.load()) && outside) {
        // The sequence thread owns the file until its step ends; it resets
        // then, or as soon as it starts when it has not yet.
        m_pendingFinish.store(qMax(m_pendingFinish.load(), upgrade_finish));
        m_cancelled.store(true);
        setRun(false);
        return;
    }
    finishReset(upgrade_finish);
}

// What one file or part of an upgrade leaves behind.
void UpgradeProcess::clearFileState()
{
    {
        QMutexLocker lock(&m_statusMutex);
        upgrade_status = ar_upgrade_status{};
    }
    allSendLen = 0;
    setUpgStep(-1);
    bUpgReboot.store(false);
    reConnStat.store(0);
    m_rebootFlag.store(0);
    m_receiveStatus.store(NoVerdict);
}

void UpgradeProcess::finishReset(int upgrade_finish)
{
    setRun(false);
    clearFileState();
    if (binFile) {
        if (binFile->isOpen())
            binFile->close();
        delete binFile;
        binFile = nullptr;
    }
    m_upgUsbVirtualSerial->set_usb_vid(0);
    m_upgUsbVirtualSerial->stopSerialRecv();
    m_upgUsbVirtualSerial->resetDeviceInfoPara();
    if (upgrade_finish != 0)
        m_upgrade_device_vid.store(0);
    LOG_INFO << "reset Upgrade Parameters";
}

// ---- replies from the link -------------------------------------------------------

void UpgradeProcess::onsendUpgradeProcess(ar_upgrade_status upgradestatus)
{
    {
        QMutexLocker lock(&m_statusMutex);
        upgrade_status = upgradestatus;
    }
    LOG_INFO << "onsendUpgradeProcess upgradestatus->percent" << upgradestatus.percent
             << "upgrade_status " << upgradestatus.status;
    if (upgradestatus.status < 0) {
        setRun(false);
        m_upgUsbVirtualSerial->stopSerialRecv();
        reportNegativeStatusOnce(upgradestatus.status, upgradestatus.percent);
    }
    wake();
}

void UpgradeProcess::onsendSegLength(int length)
{
    m_segLength.store(length);
    LOG_INFO << "length " << length << "m_segLength " << m_segLength.load();
}

void UpgradeProcess::onUpgreBoot()
{
    LOG_INFO << "onUpgreBoot ";
    m_rebootFlag.store(1);
    wake();
}

void UpgradeProcess::onUpgreceiveDateInfo(int status)
{
    LOG_INFO << "onUpgreceiveDateInfo status:" << status;
    m_receiveStatus.store(status);
    wake();
}

// ---- control slots ---------------------------------------------------------------

void UpgradeProcess::onUpgStartCmd()
{
    LOG_INFO << "get upg start command";
    emit sigMessage(3, 1, tr("连接设备"));
    onUpgSockConn();
}

void UpgradeProcess::onUpgSockConn()
{
    setResp(true);
}

void UpgradeProcess::onConnect()
{
    reConnStat.store(1);
    LOG_INFO << "connect";
    setResp(true);
}

void UpgradeProcess::upgradeStart()
{
    LOG_INFO << "upgradeStart()";
    setResp(true);
    bUpgReboot.store(true);
}

void UpgradeProcess::onUpgCommand(int, char *, int)
{
}

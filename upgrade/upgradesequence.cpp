// The single-image upgrade sequence and the steps it shares with the
// multi-image sequence.
#include "upgradeprocess.h"

#include "fileannouncement.h"
#include "logging.h"
#include "usbvirtualserial.h"
#include "waitreport.h"

#include <QFile>
#include <QFileInfo>

namespace {
const char *const OpenFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "Tavio PC Tool open upgrade image file fail, please restart the Tavio PC Tool to upgrade again.");
const char *const RebootFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "The FPV device failed to reboot correctly. Please restart the device and try the upgrade process again.");
const char *const ReconnectFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "The FPV device did not come back after its reboot, please restart the device to upgrade again.");
const char *const TransferFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "upgrade image transfer failed, please restart the device to upgrade again.");
const char *const SegmentLengthFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "the device reported no usable maximum segment length, please restart the device and connect again.");
constexpr int SingleImageType = IMG_UNKNOWN;   // data frames with the ordinary acknowledgement wait
constexpr int SingleImageSaveAs = 1;
constexpr int ProgressTransferStart = 5;
constexpr int ProgressTransferSpan = 10;
constexpr int ProgressTransferEnd = 15;
} // namespace

void UpgradeProcess::runSteps(const std::function<void()> &step)
{
    while (bRun.load()) {
        if (!checkSegmentLength())
            return;
        step();
        // Data steps wait for their acknowledgements already; a pause after
        // each segment would only slow the transfer down.
        if (getUpgStep() != AR_CMD_SENDFILE_DATA)
            m_clock->sleep(StepPauseMs);
    }
}

void UpgradeProcess::upgradeProcess()
{
    if (!beginSequence())
        return;
    runSteps([this] {
        ar_upgrade_status snapshot = latestStatus();
        LOG_INFO << "run #upgrade_status.percent " << snapshot.percent << "m_segLength " << m_segLength.load();
        upgCommandProcess(&snapshot, m_segLength.load());
    });
    endSequence(1, true);
    LOG_INFO << "upgrade finished";
}

void UpgradeProcess::endWithFailure(const QString &logText, const QString &hint)
{
    LOG_CRITICAL << logText.toUtf8().constData();
    emit logMessage(tr(logText.toUtf8().constData()));
    emit sigUpgradeProcessHint(hint, true);
    setRun(false);
}

void UpgradeProcess::endWithTransferFailure()
{
    endWithFailure(QString::fromLatin1(TransferFailureLog), tr("升级固件传输失败，请重启设备再次升级。"));
}

// A device that reports no positive segment length would be sent empty
// frames for ever: such an upgrade ends before anything more is sent.
bool UpgradeProcess::checkSegmentLength()
{
    const int segLength = m_segLength.load();
    if (segLength > 0)
        return true;
    LOG_CRITICAL << "invalid maximum segment length reported by the device:" << segLength;
    endWithFailure(QString::fromLatin1(SegmentLengthFailureLog),
                   tr("设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。"));
    return false;
}

void UpgradeProcess::reportWaiting(WaitKind kind, qint64 seconds)
{
    if (kind == WaitKind::DeviceRestart) {
        emit logMessage(QStringLiteral("waiting for the device to restart... %1 s").arg(seconds));
        emit sigUpgradeWaiting(tr("正在等待设备重启，已等待%1秒").arg(seconds));
    } else {
        emit logMessage(QStringLiteral("waiting for the device's verdict... %1 s").arg(seconds));
        emit sigUpgradeWaiting(tr("正在等待设备的校验结果，已等待%1秒").arg(seconds));
    }
}

std::unique_ptr<WaitReport> UpgradeProcess::waitReport(WaitKind kind)
{
    return std::make_unique<WaitReport>(
        *m_clock, WaitReportIntervalMs, [this, kind](qint64 seconds) { reportWaiting(kind, seconds); },
        [this] { emit sigUpgradeWaiting(QString()); });
}

bool UpgradeProcess::openImageFile(const QString &path)
{
    delete binFile;
    binFile = new QFile(path);
    LOG_INFO << "file path" << path;
    if (!binFile->isOpen() && !binFile->open(QIODevice::ReadOnly)) {
        emit logMessage(tr("open upgrade firmware fail!"));
        emit sigUpgradeProcessHint(tr("打开升级固件失败!"), true);
        setRun(false);
        LOG_CRITICAL << OpenFailureLog;
        return false;
    }
    LOG_INFO << "open upgrade image file success!";
    setResp(false);
    return true;
}

// Reopens the port and asks the device to reboot into `mode`, unless the
// sequence has been ended meanwhile; false then.
bool UpgradeProcess::requestReboot(const char *mode)
{
    if (!bRun.load())
        return false;
    m_upgUsbVirtualSerial->reopenSerialPort();
    upgReboot(mode);
    return true;
}

// Asks the device to reboot into its upgrade state until it confirms, then
// closes the port while it restarts. False when it never confirmed or the
// sequence was ended. Each request is followed by a full pause: the device
// needs it to go away.
bool UpgradeProcess::rebootIntoUpgradeState()
{
    const auto report = waitReport(WaitKind::DeviceRestart);
    if (!requestReboot("clean"))
        return false;
    pause(RebootPauseMs);
    for (int sleepcount = 0; m_rebootFlag.load() == 0;) {
        if (!bRun.load())
            return false;
        pause(RebootPauseMs);
        ++sleepcount;
        LOG_INFO << "sleep " << sleepcount * RebootPauseMs / 1000;
        if (!requestReboot("clean"))
            return false;
        if (sleepcount > RebootRepeats) {
            endWithFailure(QString::fromLatin1(RebootFailureLog),
                           tr("FPV设备无法正确重启，请重启设备并重试升级。"));
            return false;
        }
    }
    m_rebootFlag.store(0);
    m_upgUsbVirtualSerial->closeSerialPort();
    return true;
}

// Waits for the rebooted device's port and starts the remote upgrade.
bool UpgradeProcess::reconnectAfterReboot()
{
    LOG_INFO << "fpv reboot, waiting for fpv reconnection...";
    emit logMessage(tr("waiting for reconnection..."));
    if (!waitSerialResponse()) {
        if (bRun.load())
            endWithFailure(QString::fromLatin1(ReconnectFailureLog),
                           tr("FPV设备重启后未能重新连接，请重启设备再次升级。"));
        return false;
    }
    LOG_INFO << "fpv reconnection successfully.";
    emit logMessage(tr("fpv reconnection successfully."));
    setUpgStep(AR_CMD_REMOTE_UPGRADE);
    commandUpgSendRecv(AR_CMD_REMOTE_UPGRADE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
    return true;
}

// Opens the image again when a resend needs it. False (and the upgrade ended)
// when it cannot be opened.
bool UpgradeProcess::reopenImageFile()
{
    if (binFile->isOpen() || binFile->open(QIODevice::ReadOnly))
        return true;
    endWithFailure(QString::fromLatin1(OpenFailureLog),
                   tr("Tavio PC Tool打开升级固件失败，请重启Tavio PC Tool并再次升级。"));
    return false;
}

void UpgradeProcess::sendAnnouncement(ar_file_info *fileinfo, const QString &targetName,
                                      const QString &localPath)
{
    LOG_INFO << "filePath " << FileAnnouncement::targetPath(targetName) << "fileinfo.fileDir "
             << localPath << "fileinfo.length " << fileinfo->length;
    setUpgStep(AR_CMD_SENDFILE_START);
    commandUpgSendRecv(AR_CMD_SENDFILE_START, AR_MSGTYPE_REQUEST, AR_FMT_BINARY,
                       reinterpret_cast<char *>(fileinfo), sizeof(*fileinfo));
}

// Sends one segment from the file position. A frame that fails after all
// its transmissions means the device or its port is gone: the transfer ends
// at once instead of writing the rest of the file into a dead port. False then.
bool UpgradeProcess::sendSegment(qint64 segmentLength, int imgType)
{
    const qint64 start = binFile->pos();
    const int ret = commandSendWithFileRecv(AR_CMD_SENDFILE_DATA, AR_MSGTYPE_REQUEST, AR_FMT_BINARY,
                                            binFile, unsigned(segmentLength), unsigned(imgType));
    allSendLen += quint64(binFile->pos() - start);
    if (ret >= 0)
        return true;
    LOG_WARNING << "send file error";
    if (bRun.load()) // not when the sequence was ended from outside
        endWithTransferFailure();
    return false;
}

void UpgradeProcess::sendFirstSegment(int segLength, int imgType)
{
    emit logMessage(tr("upgrade firmware send start."));
    binFile->seek(0);
    setUpgStep(AR_CMD_SENDFILE_DATA);
    qint64 segment = segLength;
    if (binFile->size() < segLength) {
        segment = binFile->size();
        setUpgStep(AR_CMD_SENDFILE_END);
    }
    if (sendSegment(segment, imgType))
        LOG_INFO << "send len" << allSendLen;
}

// Sends the next segment; returns the share of the file sent so far in percent.
double UpgradeProcess::sendNextSegment(int segLength, int imgType)
{
    LOG_INFO << "send file data...";
    emit logMessage(tr("upgrade firmware sending..."));
    const qint64 size = binFile->size();
    if (size - qint64(allSendLen) < segLength) {
        LOG_INFO << "send len " << allSendLen;
        setUpgStep(AR_CMD_SENDFILE_END);
    }
    const qint64 left = size - binFile->pos();
    if (sendSegment(segLength < left ? segLength : left, imgType))
        LOG_INFO << "all send len" << allSendLen;
    return size != 0 ? double(allSendLen) / double(size) * 100.0 : 0.0;
}

// Ends the file, shows `progressBeforeVerdict` (when not negative) and acts
// on the device's verdict: a refusal sends the whole file again, at most
// MaxResends times; a last refusal, another verdict or none ends the upgrade
// with the transfer failure.
UpgradeProcess::Verdict UpgradeProcess::endFileAndActOnVerdict(int progressBeforeVerdict)
{
    emit logMessage(tr("upgrade firmware send end."));
    emit logMessage(tr("entering the upgrade state."));
    binFile->close();
    m_receiveStatus.store(NoVerdict); // the verdict must answer this end of file
    commandUpgSendRecv(AR_CMD_SENDFILE_END, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
    m_upgUsbVirtualSerial->startSerialRecv();
    if (progressBeforeVerdict >= 0)
        emit sigUpgProg(progressBeforeVerdict);
    const int verdict = waitReceiveDateResponse();
    if (!bRun.load())
        return Verdict::Failed; // ended meanwhile; whoever ended it has said why
    if (verdict == 0) {
        m_fileAccepted.store(true);
        return Verdict::Accepted;
    }
    if (verdict == -1 && m_resend < MaxResends) {
        ++m_resend;
        allSendLen = 0;
        setUpgStep(AR_CMD_REMOTE_UPGRADE);
        LOG_INFO << "########========######## RESEND retry count" << m_resend;
        return Verdict::Resend;
    }
    endWithTransferFailure();
    return Verdict::Failed;
}

void UpgradeProcess::upgCommandProcess(ar_upgrade_status *upgradestatus, int segLength)
{
    switch (getUpgStep()) {
    case -1:
        if (!openImageFile(binFilePath))
            return;
        if (!bUpgReboot.load() && !rebootIntoUpgradeState())
            return;
        emit sigUpgProg(ProgressTransferStart);
        return;
    case AR_COMMAND_GET_ACTIVE:
        if (bUpgReboot.load())
            return;
        if (reconnectAfterReboot())
            bUpgReboot.store(true);
        return;
    case AR_CMD_REMOTE_UPGRADE: {
        if (!reopenImageFile())
            return;
        LOG_INFO << "calc md5";
        if (binFileName.isEmpty()) {
            binFileName = binFile->fileName().section(QLatin1Char('/'), -1);
            LOG_INFO << "upgrade3 binFilePath" << binFilePath << "binFileName" << binFileName;
        }
        ar_file_info fileinfo = FileAnnouncement::make(*binFile, binFileName, binFilePath,
                                                       SingleImageSaveAs);
        LOG_INFO << "upgrade1 binFilePath" << binFilePath << "binFileName" << binFileName;
        sendAnnouncement(&fileinfo, binFileName, binFilePath);
        return;
    }
    case AR_CMD_SENDFILE_START:
        sendFirstSegment(segLength, SingleImageType);
        return;
    case AR_CMD_SENDFILE_DATA: {
        const double transProgress = sendNextSegment(segLength, SingleImageType);
        if (bRun.load() && binFile->size() != 0) {
            emit sigUpgProg(int(transProgress / 100 * ProgressTransferSpan + ProgressTransferStart));
            LOG_INFO << "send file data... transProgress " << transProgress;
        }
        return;
    }
    case AR_CMD_SENDFILE_END:
        if (endFileAndActOnVerdict(ProgressTransferEnd) == Verdict::Accepted)
            setUpgStep(AR_CMD_UPGRADE_STATUS);
        return;
    case AR_CMD_UPGRADE_STATUS: {
        bool needReboot = false;
        if (evaluateStatus(*upgradestatus, &needReboot))
            return;
        if (upgradestatus->percent > ProgressTransferEnd)
            emit sigUpgProg(upgradestatus->percent);
        if (needReboot) {
            LOG_INFO << "device upgrade successfully!";
            setRun(false);
            return;
        }
        pause(StatusPauseMs);
        LOG_INFO << "request upgrade status";
        commandUpgSendRecv(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
        return;
    }
    default:
        return;
    }
}

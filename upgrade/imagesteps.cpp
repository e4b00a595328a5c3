#include "imagesteps.h"

#include "fileannouncement.h"
#include "devicerestart.h"
#include "firmwarerules.h"
#include "logging.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"
#include "waitreport.h"

#include <QFile>

namespace {
const char *const OpenFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "Tavio PC Tool open upgrade image file fail, please restart the Tavio PC Tool to upgrade again.");
const char *const TransferFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "upgrade image transfer failed, please restart the device to upgrade again.");
const char *const SegmentLengthFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "the device reported no usable maximum segment length, please restart the device and connect again.");
constexpr int LastTransferPercent = 99; // 100 only once the device has taken the file
constexpr int FullBar = 100;           // a device may report more
constexpr int StatusShownAbove = 15;    // the device's percentage moves the bar past the transfer's end
} // namespace

ImageSteps::ImageSteps(UpgradeProcess &worker, ImagePlan plan)
    : m_worker(worker)
    , m_restart(worker)
    , m_plan(std::move(plan))
{
}

void ImageSteps::run()
{
    while (m_worker.bRun.load()) {
        if (!checkSegmentLength())
            return;
        const ar_upgrade_status snapshot = m_worker.latestStatus();
        LOG_INFO << "run #upgrade_status.percent " << snapshot.percent << "m_segLength "
                 << m_worker.m_segLength.load();
        step(snapshot, m_worker.m_segLength.load());
        // Data steps wait for their acknowledgements already; a pause after
        // each segment would only slow the transfer down.
        if (m_worker.getUpgStep() != AR_CMD_SENDFILE_DATA)
            m_worker.m_clock->sleep(UpgradeProcess::StepPauseMs);
    }
}

void ImageSteps::step(const ar_upgrade_status &status, int segLength)
{
    switch (m_worker.getUpgStep()) {
    case -1:
        start();
        return;
    case AR_COMMAND_GET_ACTIVE:
        reboot();
        return;
    case AR_CMD_REMOTE_UPGRADE:
        announce();
        return;
    case AR_CMD_SENDFILE_START:
        sendFirstSegment(segLength);
        return;
    case AR_CMD_SENDFILE_DATA:
        sendNextSegment(segLength);
        return;
    case AR_CMD_SENDFILE_END:
        endFile();
        return;
    case AR_CMD_UPGRADE_STATUS:
        if (m_plan.isPart())
            finishPart();
        else
            followStatus(status);
        return;
    default:
        return;
    }
}

// ---- the steps ------------------------------------------------------------------

void ImageSteps::start()
{
    if (!openImageFile())
        return;
    if (!m_plan.reboots) {
        m_worker.setUpgStep(AR_COMMAND_GET_ACTIVE);
        return;
    }
    if (!m_worker.bUpgReboot.load() && !m_restart.rebootIntoUpgradeState())
        return;
    if (m_plan.barAfterReboot != ImagePlan::NoBar)
        emit m_worker.sigUpgProg(m_plan.barAfterReboot);
}

void ImageSteps::reboot()
{
    if (m_worker.bUpgReboot.load())
        return;
    if (!m_plan.reboots) {
        LOG_INFO << "fpv no need reboot.";
        m_restart.startRemoteUpgrade();
        m_worker.bUpgReboot.store(true);
    } else if (m_restart.reconnectAfterReboot()) {
        m_worker.bUpgReboot.store(true);
    }
}

void ImageSteps::announce()
{
    if (!reopenImageFile())
        return;
    // Also before each resend: a file of another size is not announced at all.
    if (m_worker.binFile->size() != m_worker.m_image.size) {
        LOG_WARNING << "the image file now has" << m_worker.binFile->size() << "bytes, pinned with"
                    << m_worker.m_image.size;
        m_worker.endWithFileChanged();
        return;
    }
    ar_file_info fileinfo = FileAnnouncement::make(m_worker.m_image, m_plan.announcedName, m_plan.path,
                                                   m_plan.saveAs);
    logAnnouncement(fileinfo);
    LOG_INFO << "filePath " << FileAnnouncement::targetPath(m_plan.announcedName) << "fileinfo.fileDir "
             << m_plan.path << "fileinfo.length " << fileinfo.length;
    m_worker.setUpgStep(AR_CMD_SENDFILE_START);
    m_worker.commandUpgSendRecv(AR_CMD_SENDFILE_START, AR_MSGTYPE_REQUEST, AR_FMT_BINARY,
                                reinterpret_cast<char *>(&fileinfo), sizeof(fileinfo));
}

void ImageSteps::sendFirstSegment(int segLength)
{
    emit m_worker.logMessage(UpgradeProcess::tr("upgrade firmware send start."));
    m_worker.binFile->seek(0);
    m_worker.m_sentImage.restart();
    m_worker.setUpgStep(AR_CMD_SENDFILE_DATA);
    qint64 segment = segLength;
    if (m_worker.m_image.size < segLength) {
        segment = m_worker.m_image.size;
        m_worker.setUpgStep(AR_CMD_SENDFILE_END);
    }
    if (sendSegment(segment))
        LOG_INFO << "send len" << m_worker.allSendLen;
}

void ImageSteps::sendNextSegment(int segLength)
{
    LOG_INFO << "send file data...";
    emit m_worker.logMessage(UpgradeProcess::tr("upgrade firmware sending..."));
    const qint64 size = m_worker.m_image.size; // never more: a file grown since is sent as pinned
    if (size - qint64(m_worker.allSendLen) < segLength) {
        LOG_INFO << "send len " << m_worker.allSendLen;
        m_worker.setUpgStep(AR_CMD_SENDFILE_END);
    }
    const qint64 left = size - m_worker.binFile->pos();
    if (sendSegment(segLength < left ? segLength : left))
        LOG_INFO << "all send len" << m_worker.allSendLen;
    if (!m_worker.bRun.load())
        return;
    // The file is never empty here: an empty file fits in the first segment.
    const double transProgress = double(m_worker.allSendLen) / double(size) * 100.0;
    const double bar = m_plan.transferBar(transProgress);
    emit m_worker.sigUpgProg(qMin(int(bar), LastTransferPercent));
    if (m_plan.isPart()) {
        LOG_INFO << "curSendUpgradeSubFirmwareNum" << m_plan.part + 1 << "send file data... transProgress "
                 << transProgress;
        LOG_INFO << "actual transProgress" << bar;
    } else {
        LOG_INFO << "send file data... transProgress " << transProgress;
    }
}

void ImageSteps::endFile()
{
    if (endFileAndActOnVerdict() != Verdict::Accepted)
        return;
    if (m_plan.barWhenAccepted != ImagePlan::NoBar)
        emit m_worker.sigUpgProg(m_plan.barWhenAccepted);
    m_worker.setUpgStep(AR_CMD_UPGRADE_STATUS);
}

// The status phase of a single image: the device's own upgrade, to its end.
void ImageSteps::followStatus(const ar_upgrade_status &status)
{
    bool needReboot = false;
    if (m_worker.evaluateStatus(status, &needReboot))
        return;
    if (status.percent > StatusShownAbove)
        emit m_worker.sigUpgProg(qMin(status.percent, FullBar));
    if (needReboot) {
        LOG_INFO << "device upgrade successfully!";
        m_worker.markSucceeded();
        m_worker.setRun(false);
        return;
    }
    m_worker.pause(UpgradeProcess::StatusPauseMs);
    LOG_INFO << "request upgrade status";
    m_worker.commandUpgSendRecv(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
}

// A package's device status is not followed: after its last part the device
// is asked for a normal restart.
void ImageSteps::finishPart()
{
    if (m_plan.lastPart())
        m_worker.upgReboot("normal");
    m_worker.setRun(false);
}

// ---- helpers --------------------------------------------------------------------

// A device that reports no positive segment length would be sent empty
// frames for ever: such an upgrade ends before anything more is sent.
bool ImageSteps::checkSegmentLength()
{
    const int segLength = m_worker.m_segLength.load();
    if (segLength > 0)
        return true;
    LOG_CRITICAL << "invalid maximum segment length reported by the device:" << segLength;
    m_worker.endWithFailure(QString::fromLatin1(SegmentLengthFailureLog),
                            UpgradeProcess::tr("设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。"));
    return false;
}

bool ImageSteps::openImageFile()
{
    delete m_worker.binFile;
    m_worker.binFile = new QFile(m_plan.path);
    LOG_INFO << "file path" << m_plan.path;
    if (!m_worker.binFile->isOpen() && !m_worker.binFile->open(QIODevice::ReadOnly)) {
        emit m_worker.logMessage(UpgradeProcess::tr("open upgrade firmware fail!"));
        emit m_worker.sigUpgradeProcessHint(UpgradeProcess::tr("打开升级固件失败!"), true);
        m_worker.setRun(false);
        LOG_CRITICAL << OpenFailureLog;
        return false;
    }
    LOG_INFO << "open upgrade image file success!";
    return true;
}

// Opens the file again when a resend needs it. False (and the upgrade ended)
// when it cannot be opened.
bool ImageSteps::reopenImageFile()
{
    QFile *file = m_worker.binFile;
    if (file->isOpen())
        return true;
    // What stands under the name now may be no file at all: opening a named
    // pipe would block the resend for ever.
    if (FirmwareRules::judgeFileType(m_plan.path) != FirmwareRules::FileVerdict::Accepted) {
        m_worker.endWithFileChanged();
        return false;
    }
    if (file->open(QIODevice::ReadOnly))
        return true;
    m_worker.endWithFailure(QString::fromLatin1(OpenFailureLog),
                            UpgradeProcess::tr("Tavio PC Tool打开升级固件失败，请重启Tavio PC Tool并再次升级。"));
    return false;
}

void ImageSteps::logAnnouncement(const ar_file_info &fileinfo)
{
    if (!m_plan.isPart()) {
        LOG_INFO << "upgrade1 binFilePath" << m_plan.path << "binFileName" << m_plan.announcedName;
        return;
    }
    LOG_INFO << "upgrade1 upgradeFirmwarePath" << m_plan.path << "upgradeFirmwareName"
             << m_plan.announcedName << "fileinfo.MD5" << fileinfo.MD5;
    LOG_INFO << "upgrade3 upgradeFirmwarePath" << m_plan.path << "binFileName" << m_plan.announcedName;
    LOG_INFO << "### saveAsFile SubImgType" << m_plan.saveAs;
}

// Sends one segment from the file position. A frame that fails after all
// its transmissions means the device or its port is gone: the transfer ends
// at once instead of writing the rest of the file into a dead port. False then.
bool ImageSteps::sendSegment(qint64 segmentLength)
{
    QFile *file = m_worker.binFile;
    const qint64 start = file->pos();
    const int ret = m_worker.commandSendWithFileRecv(AR_CMD_SENDFILE_DATA, AR_MSGTYPE_REQUEST,
                                                     AR_FMT_BINARY, file, unsigned(segmentLength),
                                                     unsigned(m_plan.dataImageType));
    m_worker.allSendLen += quint64(file->pos() - start);
    if (ret >= 0) {
        emit m_worker.fileBytesSent(qint64(m_worker.allSendLen), m_worker.m_image.size);
        return true;
    }
    LOG_WARNING << "send file error";
    if (ret == UpgradeProcess::FileChanged)
        m_worker.endWithFileChanged();
    else if (m_worker.bRun.load()) // not when the sequence was ended from outside
        endWithTransferFailure();
    return false;
}

// Ends the file, shows the plan's bar for it and acts on the device's
// verdict: a refusal sends the whole file again, at most MaxResends times; a
// last refusal, another verdict or none ends the upgrade with the transfer
// failure (and a package with it).
ImageSteps::Verdict ImageSteps::endFileAndActOnVerdict()
{
    // The device takes the file only from its end: a transfer of anything
    // but the pinned bytes never gets one.
    if (!m_worker.m_sentImage.matches(m_worker.m_image)) {
        LOG_WARNING << "sent" << m_worker.m_sentImage.bytes() << "bytes that are not the image pinned with"
                    << m_worker.m_image.size << "bytes, MD5" << m_worker.m_image.md5;
        m_worker.endWithFileChanged();
        return Verdict::Failed;
    }
    emit m_worker.logMessage(UpgradeProcess::tr("upgrade firmware send end."));
    emit m_worker.logMessage(UpgradeProcess::tr("entering the upgrade state."));
    m_worker.binFile->close();
    m_worker.m_receiveStatus.store(UpgradeProcess::NoVerdict); // the verdict must answer this end of file
    m_worker.commandUpgSendRecv(AR_CMD_SENDFILE_END, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
    m_worker.m_upgUsbVirtualSerial->startSerialRecv();
    if (m_plan.barAtFileEnd != ImagePlan::NoBar)
        emit m_worker.sigUpgProg(m_plan.barAtFileEnd);
    const int verdict = m_worker.waitReceiveDateResponse();
    if (!m_worker.bRun.load())
        return Verdict::Failed; // ended meanwhile; whoever ended it has said why
    if (verdict == 0) {
        m_worker.m_fileAccepted.store(true);
        return Verdict::Accepted;
    }
    if (verdict == -1 && m_worker.m_resend < UpgradeProcess::MaxResends) {
        ++m_worker.m_resend;
        m_worker.allSendLen = 0;
        m_worker.setUpgStep(AR_CMD_REMOTE_UPGRADE);
        LOG_INFO << "########========######## RESEND retry count" << m_worker.m_resend;
        return Verdict::Resend;
    }
    endWithTransferFailure();
    return Verdict::Failed;
}

void ImageSteps::endWithTransferFailure()
{
    m_worker.endWithFailure(QString::fromLatin1(TransferFailureLog),
                            UpgradeProcess::tr("升级固件传输失败，请重启设备再次升级。"));
}

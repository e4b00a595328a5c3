#include "imagesteps.h"

#include "fileannouncement.h"
#include "firmwarerules.h"
#include "logging.h"
#include "replymailbox.h"
#include "upgradechannel.h"
#include "upgradereport.h"
#include "waitreport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace {
const char *const OpenFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "Tavio PC Tool open upgrade image file fail, please restart the Tavio PC Tool to upgrade again.");
const char *const TransferFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "upgrade image transfer failed, please restart the device to upgrade again.");
const char *const SegmentLengthFailureLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "the device reported no usable maximum segment length, please restart the device and connect again.");
const char DisconnectedLog[] = "the device was disconnected during its upgrade: waiting for it to come back.";
const char *const NotReconnectedLog = QT_TRANSLATE_NOOP(
    "UpgradeProcess", "the device was disconnected during its upgrade and did not come back, please restart the device to upgrade again.");
const char FileChangedLog[] =
    "the upgrade file changed during the upgrade: the upgrade is stopped and nothing more is sent.";
constexpr int LastTransferPercent = 99; // 100 only once the device has taken the file
constexpr int FullBar = 100;           // a device may report more
constexpr int StatusShownAbove = 15;    // the device's percentage moves the bar past the transfer's end
constexpr int AcceptingVerdict = 0;
constexpr int RefusingVerdict = -1;

} // namespace

ImageSteps::ImageSteps(UpgradeChannel &channel, UpgradeReport &report, ImagePlan plan, PinnedImage image)
    : m_channel(channel)
    , m_mailbox(channel.mailbox())
    , m_report(report)
    , m_restart(channel, report)
    , m_status(report, channel.mailbox().clock())
    , m_plan(std::move(plan))
    , m_image(std::move(image))
    , m_file(m_plan.path)
{
}

std::optional<UpgradeOutcome> ImageSteps::run()
{
    while (m_mailbox.running()) {
        if (!checkSegmentLength())
            break;
        const ar_upgrade_status snapshot = m_mailbox.latestStatus();
        LOG_INFO << "run #upgrade_status.percent " << snapshot.percent << "m_segLength "
                 << m_mailbox.segmentLength();
        step(snapshot, m_mailbox.segmentLength());
        // Data steps wait for their acknowledgements already; a pause after
        // each segment would only slow the transfer down.
        if (m_step != AR_CMD_SENDFILE_DATA)
            m_mailbox.clock().sleep(StepPauseMs);
    }
    // A failure the device reported on its own ended the run.
    ar_upgrade_status failure{};
    if (!m_outcome && m_mailbox.failureReported(&failure))
        m_outcome = m_status.reportFailure(failure.status, failure.percent);
    setStep(-1);
    return m_outcome;
}

void ImageSteps::step(const ar_upgrade_status &status, int segLength)
{
    switch (m_step) {
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
        sendNextSegment();
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
    setStep(AR_COMMAND_GET_ACTIVE);
    if (!m_plan.reboots)
        return;
    std::optional<UpgradeOutcome> failure;
    if (!m_restart.rebootIntoUpgradeState(&failure)) {
        if (failure)
            end(*failure);
        return;
    }
    if (m_plan.barAfterReboot != ImagePlan::NoBar)
        m_report.progress(m_plan.barAfterReboot);
}

void ImageSteps::reboot()
{
    if (m_rebooted)
        return;
    if (m_plan.reboots) {
        std::optional<UpgradeOutcome> failure;
        if (!m_restart.reconnectAfterReboot(&failure)) {
            if (failure)
                end(*failure);
            return;
        }
    } else {
        LOG_INFO << "fpv no need reboot.";
    }
    m_rebooted = true;
    setStep(AR_CMD_REMOTE_UPGRADE);
    m_restart.startRemoteUpgrade();
}

void ImageSteps::announce()
{
    if (!reopenImageFile())
        return;
    // Also before each resend: a file of another size is not announced at all.
    if (m_file.size() != m_image.size) {
        LOG_WARNING << "the image file now has" << m_file.size() << "bytes, pinned with" << m_image.size;
        endWithFileChanged();
        return;
    }
    ar_file_info fileinfo = FileAnnouncement::make(m_image, m_plan.announcedName, m_plan.path, m_plan.saveAs);
    logAnnouncement(fileinfo);
    LOG_INFO << "filePath " << FileAnnouncement::targetPath(m_plan.announcedName) << "fileinfo.fileDir "
             << m_plan.path << "fileinfo.length " << fileinfo.length;
    setStep(AR_CMD_SENDFILE_START);
    m_channel.commandUpgSendRecv(AR_CMD_SENDFILE_START,
                                 QByteArray(reinterpret_cast<const char *>(&fileinfo), int(sizeof(fileinfo))));
}

void ImageSteps::sendFirstSegment(int segLength)
{
    m_report.logText(QCoreApplication::translate("UpgradeProcess", "upgrade firmware send start."));
    m_file.seek(0);
    m_sentImage.restart();
    m_sentBytes = 0;
    // Never more than the pinned size: a file grown since is sent as pinned.
    m_transfer = m_channel.startTransfer(m_file, m_image.size, segLength, unsigned(m_plan.dataImageType),
                                         m_sentImage);
    setStep(m_transfer->segmentCount() > 1 ? AR_CMD_SENDFILE_DATA : AR_CMD_SENDFILE_END);
    if (sendSegment())
        LOG_INFO << "send len" << m_sentBytes;
}

void ImageSteps::sendNextSegment()
{
    LOG_INFO << "send file data...";
    m_report.logText(QCoreApplication::translate("UpgradeProcess", "upgrade firmware sending..."));
    const qint64 size = m_image.size;
    if (m_transfer->segmentsSent() + 1 >= m_transfer->segmentCount()) {
        LOG_INFO << "send len " << m_sentBytes;
        setStep(AR_CMD_SENDFILE_END);
    }
    if (sendSegment())
        LOG_INFO << "all send len" << m_sentBytes;
    if (!m_mailbox.running())
        return;
    // The file is never empty here: an empty file fits in the first segment.
    const double transProgress = double(m_sentBytes) / double(size) * 100.0;
    const double bar = m_plan.transferBar(transProgress);
    m_report.progress(qMin(int(bar), LastTransferPercent));
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
        m_report.progress(m_plan.barWhenAccepted);
    setStep(AR_CMD_UPGRADE_STATUS);
}

// The status phase of a single image: the device's own upgrade, to its end.
void ImageSteps::followStatus(const ar_upgrade_status &status)
{
    if (!m_channel.link().SerialPortIsOpen()) {
        awaitReturn(); // the next step asks the device again
        return;
    }
    bool needReboot = false;
    const std::optional<UpgradeOutcome> failure = m_status.evaluateStatus(status, &needReboot);
    if (failure) {
        m_channel.link().stopSerialRecv();
        end(*failure);
        return;
    }
    if (status.percent > StatusShownAbove)
        m_report.progress(qMin(status.percent, FullBar));
    if (needReboot) {
        // Done is done: nothing the device says later undoes it.
        m_mailbox.acceptStatus(false);
        m_channel.link().stopSerialRecv();
        LOG_INFO << "device upgrade successfully!";
        end(UpgradeOutcome::success());
        return;
    }
    m_mailbox.pause(StatusPauseMs);
    LOG_INFO << "request upgrade status";
    m_channel.commandUpgSendRecv(AR_CMD_UPGRADE_STATUS);
}

// The port went while the device upgrades itself: a device plugged in again
// in time is followed on; otherwise the failure says it went.
void ImageSteps::awaitReturn()
{
    LOG_WARNING << DisconnectedLog;
    m_report.logText(QString::fromLatin1(DisconnectedLog));
    const auto wait = m_channel.waitReport(UpgradeWait::Phase::Disconnected, DisconnectLimitMs);
    if (m_channel.waitForPort(QDeadlineTimer(m_mailbox.clock().realMs(DisconnectLimitMs)))) {
        LOG_INFO << "the device is back: following its upgrade again";
        m_report.logText(QStringLiteral("the device is back."));
        m_status.restartClock();
        return;
    }
    if (!m_mailbox.running())
        return;
    const QString hint = QCoreApplication::translate("UpgradeProcess", "设备在升级中断开连接，等待%1秒后仍未重新连接。")
                             .arg(DisconnectLimitMs / 1000)
                         + QLatin1Char(' ') + QCoreApplication::translate("UpgradeProcess", "升级超时，请重启设备再次升级。");
    endWithFailure(UpgradeOutcome::Kind::Disconnected, NotReconnectedLog, hint);
}

// A package's device status is not followed: after its last part the device
// is asked for a normal restart.
void ImageSteps::finishPart()
{
    if (m_plan.lastPart()) {
        setStep(AR_COMMAND_GET_ACTIVE);
        m_channel.upgReboot("normal");
    }
    end(UpgradeOutcome::success());
}

// ---- helpers --------------------------------------------------------------------

void ImageSteps::setStep(int step)
{
    if (m_step == step)
        return;
    m_step = step;
    m_report.enteredStep(step);
}

void ImageSteps::end(const UpgradeOutcome &outcome)
{
    m_transfer.reset(); // nothing more goes out of it
    if (!m_outcome)
        m_outcome = outcome;
    m_mailbox.setRun(false);
}

void ImageSteps::endWithFailure(UpgradeOutcome::Kind kind, const char *logText, const QString &hint)
{
    LOG_CRITICAL << logText;
    m_report.logText(QCoreApplication::translate("UpgradeProcess", logText));
    end(UpgradeOutcome::of(kind, hint));
}

UpgradeOutcome ImageSteps::reportFileChanged(UpgradeReport &report)
{
    LOG_CRITICAL << FileChangedLog;
    report.logText(QString::fromLatin1(FileChangedLog));
    return UpgradeOutcome::of(UpgradeOutcome::Kind::FileChanged,
                                   QCoreApplication::translate("UpgradeProcess", "升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！"));
}

void ImageSteps::endWithFileChanged()
{
    end(reportFileChanged(m_report));
}

void ImageSteps::endWithTransferFailure(UpgradeOutcome::Kind kind)
{
    endWithFailure(kind, TransferFailureLog, QCoreApplication::translate("UpgradeProcess", "升级固件传输失败，请重启设备再次升级。"));
}

// A device that reports no positive segment length would be sent empty
// frames for ever: such an upgrade ends before anything more is sent.
bool ImageSteps::checkSegmentLength()
{
    const int segLength = m_mailbox.segmentLength();
    if (segLength > 0)
        return true;
    LOG_CRITICAL << "invalid maximum segment length reported by the device:" << segLength;
    endWithFailure(UpgradeOutcome::Kind::TransferFailed, SegmentLengthFailureLog,
                   QCoreApplication::translate("UpgradeProcess", "设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。"));
    return false;
}

bool ImageSteps::openImageFile()
{
    LOG_INFO << "file path" << m_plan.path;
    if (!m_file.isOpen() && !m_file.open(QIODevice::ReadOnly)) {
        m_report.logText(QCoreApplication::translate("UpgradeProcess", "open upgrade firmware fail!"));
        LOG_CRITICAL << OpenFailureLog;
        end(UpgradeOutcome::of(UpgradeOutcome::Kind::TransferFailed, QCoreApplication::translate("UpgradeProcess", "打开升级固件失败!")));
        return false;
    }
    LOG_INFO << "open upgrade image file success!";
    return true;
}

// Opens the file again when a resend needs it. False (and the upgrade ended)
// when it cannot be opened.
bool ImageSteps::reopenImageFile()
{
    if (m_file.isOpen())
        return true;
    // What stands under the name now may be no file at all: opening a named
    // pipe would block the resend for ever.
    if (FirmwareRules::judgeFileType(m_plan.path) != FirmwareRules::FileVerdict::Accepted) {
        endWithFileChanged();
        return false;
    }
    if (m_file.open(QIODevice::ReadOnly))
        return true;
    endWithFailure(UpgradeOutcome::Kind::TransferFailed, OpenFailureLog,
                   QCoreApplication::translate("UpgradeProcess", "Tavio PC Tool打开升级固件失败，请重启Tavio PC Tool并再次升级。"));
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

// Follows the next segment to its acknowledgement. A frame that fails after
// all its transmissions means the device or its port is gone: the transfer
// ends at once instead of writing the rest of the file into a dead port.
// False then.
bool ImageSteps::sendSegment()
{
    const qint64 ret = m_transfer->sendNextSegment();
    if (ret >= 0) {
        m_sentBytes += ret;
        m_report.bytesSent(m_sentBytes, m_image.size);
        return true;
    }
    LOG_WARNING << "send file error";
    if (ret == DataTransfer::FileChanged)
        endWithFileChanged();
    else if (m_mailbox.running()) // not when the sequence was ended from outside
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
    // but the pinned bytes never gets one. Nor does a file changed since
    // its bytes were read ahead of the link: the upgrade is of the file as
    // it stands, checked whole once more.
    if (!m_sentImage.matches(m_image)) {
        LOG_WARNING << "sent" << m_sentImage.bytes() << "bytes that are not the image pinned with"
                    << m_image.size << "bytes, MD5" << m_image.md5;
        endWithFileChanged();
        return Verdict::Failed;
    }
    if (!m_image.isUnchanged()) {
        LOG_WARNING << "the image file no longer holds the bytes pinned, MD5" << m_image.md5;
        endWithFileChanged();
        return Verdict::Failed;
    }
    m_report.logText(QCoreApplication::translate("UpgradeProcess", "upgrade firmware send end."));
    m_report.logText(QCoreApplication::translate("UpgradeProcess", "entering the upgrade state."));
    m_transfer.reset();
    m_file.close();
    m_mailbox.expectVerdict(); // the verdict must answer this end of file
    m_channel.commandUpgSendRecv(AR_CMD_SENDFILE_END);
    m_channel.link().startSerialRecv();
    if (m_plan.barAtFileEnd != ImagePlan::NoBar)
        m_report.progress(m_plan.barAtFileEnd);
    const int verdict = m_channel.waitReceiveDateResponse();
    if (!m_mailbox.running())
        return Verdict::Failed; // ended meanwhile; whoever ended it has said why
    if (verdict == AcceptingVerdict)
        return Verdict::Accepted;
    if (verdict == RefusingVerdict && m_resend < MaxResends) {
        ++m_resend;
        m_sentBytes = 0;
        setStep(AR_CMD_REMOTE_UPGRADE);
        LOG_INFO << "########========######## RESEND retry count" << m_resend;
        return Verdict::Resend;
    }
    endWithTransferFailure(verdict == RefusingVerdict ? UpgradeOutcome::Kind::DeviceRefused
                                                      : UpgradeOutcome::Kind::TransferFailed);
    return Verdict::Failed;
}

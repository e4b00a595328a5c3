// The multi-image upgrade sequence: a package is split into part files, which
// are sent one after the other, the last one of the package first.
#include "upgradeprocess.h"

#include "fileannouncement.h"
#include "logging.h"
#include "packagesplitter.h"
#include "usbvirtualserial.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {
constexpr int PartDataImageType = IMG_TAREL_8333_SENSOR; // every part waits 10 s per acknowledgement
constexpr int FullBar = 100;
constexpr int LastTransferPercent = FullBar - 1; // 100 only once the last part is accepted

struct SplitFailureTexts
{
    PackageSplitter::SplitError error;
    const char *viewText; // the settings page's log view
    const char *hint;     // the warning box (translated when shown)
};

const SplitFailureTexts SplitFailures[] = {
    {PackageSplitter::SplitError::CannotOpen, "the upgrade package cannot be opened.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "无法打开升级包，请检查升级固件是否正确！")},
    {PackageSplitter::SplitError::BadHeader, "the upgrade package has no valid header.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包格式错误，请检查升级固件是否正确！")},
    {PackageSplitter::SplitError::BadMagic, "the upgrade package has no valid header.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包格式错误，请检查升级固件是否正确！")},
    {PackageSplitter::SplitError::BadCount, "the upgrade package lists an invalid number of parts.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包格式错误，请检查升级固件是否正确！")},
    {PackageSplitter::SplitError::Damaged, "the upgrade package is damaged or incomplete.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包已损坏或不完整，请检查升级固件是否正确！")},
    {PackageSplitter::SplitError::CannotWrite, "the parts of the upgrade package cannot be written.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "无法写出升级包的分区文件，请检查磁盘空间！")},
    {PackageSplitter::SplitError::NothingToSend, "the upgrade package holds no part to upgrade.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包中没有需要升级的固件，请检查升级固件是否正确！")},
};
} // namespace

int UpgradeProcess::upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths,
                                                const QString &outputDir,
                                                PackageSplitter::SplitError *error)
{
    return PackageSplitter::upgradeImag_parse_tarel_sky(input_img_path, outPaths, outputDir, error);
}

QString UpgradeProcess::partsFolderTemplate()
{
    return QDir::temp().filePath(QStringLiteral("tavio-parts-XXXXXX"));
}

// A package that cannot be used: the user is told why, and nothing was sent.
void UpgradeProcess::reportSplitFailure(PackageSplitter::SplitError error)
{
    for (const SplitFailureTexts &texts : SplitFailures) {
        if (texts.error != error)
            continue;
        LOG_WARNING << "upgrade package rejected:" << texts.viewText;
        emit logMessage(QString::fromLatin1(texts.viewText));
        emit sigUpgradeNotStarted(tr(texts.hint));
        return;
    }
}

IMG_TYPE UpgradeProcess::getImgTypeFromFileName(const QString &upgradeFirmwareName)
{
    return PackageSplitter::getImgTypeFromFileName(upgradeFirmwareName);
}

void UpgradeProcess::upgradeProcess_tarel_sky(const QString &upgradeFirmwarePath)
{
    if (!beginSequence())
        return;
    // The parts go into a folder of the program's own, never beside the
    // user's files, and it goes with them when the upgrade ends.
    const QTemporaryDir partsFolder(partsFolderTemplate());
    QStringList extractedFiles;
    PackageSplitter::SplitError error = PackageSplitter::SplitError::CannotWrite;
    const int upgradeSubFirmwareNum = partsFolder.isValid()
            ? upgradeImag_parse_tarel_sky(upgradeFirmwarePath, extractedFiles, partsFolder.path(), &error)
            : 0;
    if (upgradeSubFirmwareNum == 0) {
        reportSplitFailure(error);
        endSequence(1, true);
        return;
    }

    // The port may be left from before the device last restarted: a part
    // that does not reboot it goes out on the port as it is.
    m_upgUsbVirtualSerial->reopenSerialPort();
    int upgrade_finish = 0;
    int curSendUpgradeSubFirmwareNum = 0;
    for (int i = extractedFiles.size() - 1; i >= 0; --i) {
        const QString path = extractedFiles.at(i);
        const QString upgradeFirmwareName = QFileInfo(path).fileName();
        const int upgradeFirmwareType = getImgTypeFromFileName(upgradeFirmwareName);
        LOG_INFO << "SubupgradeFirmwarePath:" << path << "upgradeFirmwareName:" << upgradeFirmwareName
                 << "upgradeFirmwareType" << upgradeFirmwareType << "upgradeSubFirmwareNum"
                 << upgradeSubFirmwareNum;

        if (!resumeRun()) { // cancelled before this part
            resetUpgradeParameters(qMax(1, m_pendingFinish.load()));
            break;
        }
        {
            QMutexLocker lock(&m_statusMutex);
            upgrade_status = ar_upgrade_status{};
        }
        m_resend = 0;
        m_fileAccepted.store(false);
        // The reset after the previous part stopped reception; this part's
        // acknowledgements need it whether or not the device reboots first.
        m_upgUsbVirtualSerial->startSerialRecv();
        runSteps([&] {
            ar_upgrade_status snapshot = latestStatus();
            LOG_INFO << "run #upgrade_status.percent " << snapshot.percent << "m_segLength "
                     << m_segLength.load();
            upgCommandProcess_tarel_sky(&snapshot, m_segLength.load(), path, upgradeFirmwareName,
                                        upgradeFirmwareType, upgradeSubFirmwareNum,
                                        curSendUpgradeSubFirmwareNum);
        });
        // A part that failed, or was cancelled, ends the whole package: the
        // device is not flashed with the rest of a package it did not take.
        const bool partDone = m_fileAccepted.load() && !m_negativeReported.load() && !m_cancelled.load();
        if (curSendUpgradeSubFirmwareNum + 1 == upgradeSubFirmwareNum || !partDone)
            upgrade_finish = 1;
        resetUpgradeParameters(qMax(upgrade_finish, m_pendingFinish.load()));
        ++curSendUpgradeSubFirmwareNum;
        LOG_INFO << "## curSendUpgradeSubFirmwareNum" << curSendUpgradeSubFirmwareNum
                 << upgradeFirmwareName << "upgrade finished";
        if (!partDone)
            break;
    }
    endSequence(upgrade_finish, false);
}

void UpgradeProcess::upgCommandProcess_tarel_sky(ar_upgrade_status *upgradestatus, int segLength,
                                                 const QString &upgradeFirmwarePath,
                                                 const QString &upgradeFirmwareName,
                                                 int upgradeFirmwareType, int upgradeSubFirmwareNum,
                                                 int curSendUpgradeSubFirmwareNum)
{
    Q_UNUSED(upgradestatus) // the device's status is not polled for packages
    const bool lastPart = curSendUpgradeSubFirmwareNum + 1 == upgradeSubFirmwareNum;
    const bool reboots = partReboots(upgradeFirmwareType);
    switch (getUpgStep()) {
    case -1:
        if (!openImageFile(upgradeFirmwarePath))
            return;
        if (!reboots) {
            setUpgStep(AR_COMMAND_GET_ACTIVE);
            return;
        }
        if (!bUpgReboot.load())
            rebootIntoUpgradeState();
        return;
    case AR_COMMAND_GET_ACTIVE:
        if (bUpgReboot.load())
            return;
        if (!reboots) {
            LOG_INFO << "fpv no need reboot.";
            setUpgStep(AR_CMD_REMOTE_UPGRADE);
            commandUpgSendRecv(AR_CMD_REMOTE_UPGRADE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, nullptr, 0);
            bUpgReboot.store(true);
        } else if (reconnectAfterReboot()) {
            bUpgReboot.store(true);
        }
        return;
    case AR_CMD_REMOTE_UPGRADE: {
        if (!reopenImageFile())
            return;
        LOG_INFO << "calc md5";
        const QString partName = binFile->fileName().section(QLatin1Char('/'), -1);
        ar_file_info fileinfo = FileAnnouncement::make(*binFile, partName, upgradeFirmwarePath,
                                                       upgradeFirmwareType);
        LOG_INFO << "upgrade1 upgradeFirmwarePath" << upgradeFirmwarePath << "upgradeFirmwareName"
                 << upgradeFirmwareName << "fileinfo.MD5" << fileinfo.MD5;
        binFileName = partName;
        LOG_INFO << "upgrade3 upgradeFirmwarePath" << upgradeFirmwarePath << "binFileName" << binFileName;
        LOG_INFO << "### saveAsFile SubImgType" << upgradeFirmwareType;
        sendAnnouncement(&fileinfo, partName, upgradeFirmwarePath);
        return;
    }
    case AR_CMD_SENDFILE_START:
        sendFirstSegment(segLength, PartDataImageType);
        return;
    case AR_CMD_SENDFILE_DATA: {
        const double transProgress = sendNextSegment(segLength, PartDataImageType);
        if (!bRun.load())
            return;
        const double bar = (FullBar / upgradeSubFirmwareNum) * curSendUpgradeSubFirmwareNum
                + transProgress / upgradeSubFirmwareNum;
        emit sigUpgProg(qMin(int(bar), LastTransferPercent));
        LOG_INFO << "curSendUpgradeSubFirmwareNum" << curSendUpgradeSubFirmwareNum + 1
                 << "send file data... transProgress " << transProgress;
        LOG_INFO << "actual transProgress" << bar;
        return;
    }
    case AR_CMD_SENDFILE_END:
        if (endFileAndActOnVerdict(-1) != Verdict::Accepted)
            return;
        if (lastPart)
            emit sigUpgProg(FullBar);
        setUpgStep(AR_CMD_UPGRADE_STATUS);
        return;
    case AR_CMD_UPGRADE_STATUS:
        if (lastPart)
            upgReboot("normal");
        setRun(false);
        return;
    default:
        return;
    }
}

// The multi-image upgrade sequence: a package is split into part files, which
// are sent one after the other, the last one of the package first.
#include "upgradeprocess.h"

#include "fileannouncement.h"
#include "logging.h"
#include "packagesplitter.h"
#include "usbvirtualserial.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr int PartDataImageType = IMG_TAREL_8333_SENSOR; // every part waits 10 s per acknowledgement
constexpr int FullBar = 100;
} // namespace

int UpgradeProcess::upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths)
{
    return PackageSplitter::upgradeImag_parse_tarel_sky(input_img_path, outPaths);
}

IMG_TYPE UpgradeProcess::getImgTypeFromFileName(const QString &upgradeFirmwareName)
{
    return PackageSplitter::getImgTypeFromFileName(upgradeFirmwareName);
}

void UpgradeProcess::upgradeProcess_tarel_sky(const QString &upgradeFirmwarePath)
{
    if (!beginSequence())
        return;
    int upgrade_finish = 0;
    int curSendUpgradeSubFirmwareNum = 0;
    QStringList extractedFiles;
    const int upgradeSubFirmwareNum = upgradeImag_parse_tarel_sky(upgradeFirmwarePath, extractedFiles);

    for (int i = extractedFiles.size() - 1; i >= 0; --i) {
        const QString path = extractedFiles.at(i);
        const QString upgradeFirmwareName = QFileInfo(path).fileName();
        const int upgradeFirmwareType = getImgTypeFromFileName(upgradeFirmwareName);
        LOG_INFO << "SubupgradeFirmwarePath:" << path << "upgradeFirmwareName:" << upgradeFirmwareName
                 << "upgradeFirmwareType" << upgradeFirmwareType << "upgradeSubFirmwareNum"
                 << upgradeSubFirmwareNum;

        setRun(true);
        {
            QMutexLocker lock(&m_statusMutex);
            upgrade_status = ar_upgrade_status{};
        }
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
        if (curSendUpgradeSubFirmwareNum + 1 == upgradeSubFirmwareNum)
            upgrade_finish = 1;
        const bool cancelled = m_cancelled.load();
        resetUpgradeParameters(qMax(upgrade_finish, m_pendingFinish.load()));
        ++curSendUpgradeSubFirmwareNum;
        LOG_INFO << "## curSendUpgradeSubFirmwareNum" << curSendUpgradeSubFirmwareNum
                 << upgradeFirmwareName << "upgrade finished";
        if (cancelled)
            break; // the user ended the whole package
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
        const double bar = (FullBar / upgradeSubFirmwareNum) * curSendUpgradeSubFirmwareNum
                + transProgress / upgradeSubFirmwareNum;
        emit sigUpgProg(int(bar));
        LOG_INFO << "curSendUpgradeSubFirmwareNum" << curSendUpgradeSubFirmwareNum + 1
                 << "send file data... transProgress " << transProgress;
        LOG_INFO << "actual transProgress" << bar;
        return;
    }
    case AR_CMD_SENDFILE_END:
        endFileAndWaitForVerdict(lastPart); // the verdict on a part is not acted upon
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

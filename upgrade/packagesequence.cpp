#include "packagesequence.h"

#include "imagesteps.h"
#include "logging.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

namespace {
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
    {PackageSplitter::SplitError::InsideHeader, "a part of the upgrade package starts inside its header.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包中有分区的位置在包的格式信息区中，请检查升级固件是否正确！")},
    {PackageSplitter::SplitError::Overlapping,
     "the parts of the upgrade package overlap or are out of order.",
     QT_TRANSLATE_NOOP("UpgradeProcess", "升级包中的分区位置前后错误或有重复，请检查升级固件是否正确！")},
};
} // namespace

QString PackageSequence::partsFolderTemplate()
{
    return QDir::temp().filePath(QStringLiteral("tavio-parts-XXXXXX"));
}

void PackageSequence::run(const QString &packagePath)
{
    if (!m_worker.m_lifecycle.begin())
        return;
    // The parts go into a folder of the program's own, never beside the
    // user's files, and it goes with them when the upgrade ends.
    const QTemporaryDir partsFolder(partsFolderTemplate());
    QStringList extractedFiles;
    if (!splitPinnedPackage(packagePath, partsFolder, &extractedFiles)) {
        m_worker.m_lifecycle.end(1, true);
        return;
    }
    const int partCount = extractedFiles.size();

    // The port may be left from before the device last restarted: a part
    // that does not reboot it goes out on the port as it is.
    m_worker.m_upgUsbVirtualSerial->reopenSerialPort();
    int upgrade_finish = 0;
    int part = 0;
    bool packageDone = false;
    for (int i = extractedFiles.size() - 1; i >= 0; --i) {
        const ImagePlan plan = ImagePlan::packagePart(extractedFiles.at(i), part, partCount);
        LOG_INFO << "SubupgradeFirmwarePath:" << plan.path << "upgradeFirmwareName:" << plan.announcedName
                 << "upgradeFirmwareType" << plan.saveAs << "upgradeSubFirmwareNum" << partCount;
        if (!m_worker.m_lifecycle.resume()) { // cancelled before this part
            m_worker.resetUpgradeParameters(qMax(1, m_worker.m_lifecycle.pendingFinish()));
            break;
        }
        const bool partDone = sendPart(plan);
        if (part + 1 == partCount || !partDone)
            upgrade_finish = 1;
        packageDone = partDone && part + 1 == partCount;
        m_worker.resetUpgradeParameters(qMax(upgrade_finish, m_worker.m_lifecycle.pendingFinish()));
        ++part;
        LOG_INFO << "## curSendUpgradeSubFirmwareNum" << part << plan.announcedName
                 << "upgrade finished";
        if (!partDone)
            break;
    }
    if (packageDone)
        m_worker.markSucceeded();
    m_worker.checkRestartAfterSuccess(packagePath);
    m_worker.m_lifecycle.end(upgrade_finish, false);
}

bool PackageSequence::splitPinnedPackage(const QString &packagePath, const QTemporaryDir &folder,
                                         QStringList *parts)
{
    switch (m_worker.pinUpgradeFile(packagePath)) {
    case UpgradeProcess::FilePin::Refused:
        return false;
    case UpgradeProcess::FilePin::Unreadable:
        reportSplitFailure(PackageSplitter::SplitError::CannotOpen);
        return false;
    case UpgradeProcess::FilePin::Pinned:
        break;
    }
    const PinnedImage package = m_worker.m_image;
    PackageSplitter::SplitError error = PackageSplitter::SplitError::CannotWrite;
    const int partCount = folder.isValid()
            ? m_worker.upgradeImag_parse_tarel_sky(packagePath, *parts, folder.path(), &error)
            : 0;
    if (!package.isUnchanged()) {
        m_worker.endWithFileChanged();
        return false;
    }
    if (partCount == 0) {
        reportSplitFailure(error);
        return false;
    }
    return true;
}

bool PackageSequence::sendPart(const ImagePlan &plan)
{
    // A part of the program's own, split from the pinned package; one that
    // cannot be read fails as it is opened.
    m_worker.m_image = PinnedImage::pin(plan.path);
    m_worker.startFile();
    // The reset after the previous part stopped reception; this part's
    // acknowledgements need it whether or not the device reboots first.
    m_worker.m_upgUsbVirtualSerial->startSerialRecv();
    ImageSteps(m_worker, plan).run();
    // A part that failed, or was cancelled, ends the whole package: the
    // device is not flashed with the rest of a package it did not take.
    return m_worker.m_fileAccepted.load() && !m_worker.m_status.negativeReported()
            && !m_worker.m_lifecycle.wasCancelled();
}

// A package that cannot be used: the user is told why, and nothing was sent.
void PackageSequence::reportSplitFailure(PackageSplitter::SplitError error)
{
    for (const SplitFailureTexts &texts : SplitFailures) {
        if (texts.error != error)
            continue;
        LOG_WARNING << "upgrade package rejected:" << texts.viewText;
        emit m_worker.logMessage(QString::fromLatin1(texts.viewText));
        emit m_worker.sigUpgradeNotStarted(UpgradeProcess::tr(texts.hint));
        return;
    }
}

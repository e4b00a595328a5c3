#include "packagesequence.h"

#include "imagesteps.h"
#include "logging.h"
#include "replymailbox.h"
#include "sequencelifecycle.h"
#include "upgradechannel.h"
#include "upgradereport.h"

#include <QCoreApplication>
#include <QStringList>

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

PackageSequence::PackageSequence(UpgradeChannel &channel, UpgradeReport &report, SequenceLifecycle &lifecycle,
                                 PartReset resetAfterPart)
    : m_channel(channel)
    , m_report(report)
    , m_lifecycle(lifecycle)
    , m_resetAfterPart(std::move(resetAfterPart))
{
}

UpgradeOutcome PackageSequence::run(const PinnedImage &package)
{
    // The parts go into a folder of the program's own, never beside the
    // user's files, and it goes with them when the upgrade ends.
    const std::unique_ptr<TemporaryFolders::Folder> partsFolder = TemporaryFolders().make(QStringLiteral("parts"));
    QStringList extractedFiles;
    if (const std::optional<UpgradeOutcome> refused = split(package, *partsFolder, &extractedFiles))
        return *refused;
    const int partCount = extractedFiles.size();

    // The port may be left from before the device last restarted: a part
    // that does not reboot it goes out on the port as it is.
    m_channel.reopenSerialPort();
    UpgradeOutcome outcome = UpgradeOutcome::cancelled();
    for (int part = 0; part < partCount; ++part) {
        const ImagePlan plan = ImagePlan::packagePart(extractedFiles.at(partCount - 1 - part), part, partCount);
        LOG_INFO << "SubupgradeFirmwarePath:" << plan.path << "upgradeFirmwareName:" << plan.announcedName
                 << "upgradeFirmwareType" << plan.saveAs << "upgradeSubFirmwareNum" << partCount;
        if (!m_lifecycle.resume()) { // cancelled before this part
            m_resetAfterPart(qMax(1, m_lifecycle.pendingFinish()));
            return UpgradeOutcome::cancelled();
        }
        const std::optional<UpgradeOutcome> partOutcome = sendPart(plan);
        // A part that failed, or was cancelled, ends the whole package: the
        // device is not flashed with the rest of a package it did not take.
        const bool partDone = partOutcome && partOutcome->succeeded() && !m_lifecycle.wasCancelled();
        const int upgradeFinish = (part + 1 == partCount || !partDone) ? 1 : 0;
        m_resetAfterPart(qMax(upgradeFinish, m_lifecycle.pendingFinish()));
        LOG_INFO << "## curSendUpgradeSubFirmwareNum" << part + 1 << plan.announcedName << "upgrade finished";
        if (!partDone)
            return partOutcome && !partOutcome->succeeded() ? *partOutcome : UpgradeOutcome::cancelled();
        outcome = *partOutcome;
    }
    return outcome;
}

std::optional<UpgradeOutcome> PackageSequence::split(const PinnedImage &package, const TemporaryFolders::Folder &folder,
                                                     QStringList *parts)
{
    PackageSplitter::SplitError error = PackageSplitter::SplitError::CannotWrite;
    const int partCount = folder.isValid()
            ? PackageSplitter::upgradeImag_parse_tarel_sky(package.path, *parts, folder.path(), &error)
            : 0;
    if (!package.isUnchanged())
        return ImageSteps::reportFileChanged(m_report);
    if (partCount == 0)
        return splitFailure(error, m_report);
    return std::nullopt;
}

std::optional<UpgradeOutcome> PackageSequence::sendPart(const ImagePlan &plan)
{
    m_channel.mailbox().startFile();
    // The reset after the previous part stopped reception; this part's
    // acknowledgements need it whether or not the device reboots first.
    m_channel.link().startSerialRecv();
    // A part of the program's own, split from the pinned package; one that
    // cannot be read fails as it is opened.
    return ImageSteps(m_channel, m_report, plan, PinnedImage::pin(plan.path)).run();
}

// A package that cannot be used: the user is told why, and nothing was sent.
UpgradeOutcome PackageSequence::splitFailure(PackageSplitter::SplitError error, UpgradeReport &report)
{
    for (const SplitFailureTexts &texts : SplitFailures) {
        if (texts.error != error)
            continue;
        LOG_WARNING << "upgrade package rejected:" << texts.viewText;
        report.logText(QString::fromLatin1(texts.viewText));
        return UpgradeOutcome::of(UpgradeOutcome::Kind::NotStarted,
                                       QCoreApplication::translate("UpgradeProcess", texts.hint));
    }
    return UpgradeOutcome::of(UpgradeOutcome::Kind::NotStarted, QString());
}

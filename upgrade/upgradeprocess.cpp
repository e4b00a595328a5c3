#include "upgradeprocess.h"

#include "devicelink.h"
#include "firmwarechoicetext.h"
#include "firmwarerules.h"
#include "imageplan.h"
#include "imagesteps.h"
#include "logging.h"
#include "packagesequence.h"
#include "restartcheck.h"
#include "stagedimage.h"
#include "temporaryfolders.h"
#include "waitreport.h"

#include <QCoreApplication>

UpgradeProcess::UpgradeProcess(DeviceLink *link, std::shared_ptr<const UpgradeClock> clock, QObject *parent)
    : QObject(parent)
    , m_link(*link)
    , m_mailbox(*link, std::move(clock))
    , m_channel(*link, m_mailbox, *this)
    , m_lifecycle({[this] { m_mailbox.startFile(); }, [this](bool run) { m_mailbox.setRun(run); },
                   [this](int upgradeFinish) { finishReset(upgradeFinish); },
                   [this] { m_link.closeSerialPort(); }})
{
    qRegisterMetaType<UpgradeOutcome>();
    qRegisterMetaType<UpgradeWait>();
}

UpgradeProcess::~UpgradeProcess() = default;

QByteArray UpgradeProcess::upgradeFileMd5() const
{
    QMutexLocker lock(&m_md5Mutex);
    return m_upgradeMd5;
}

void UpgradeProcess::enteredStep(int step)
{
    if (m_step.exchange(step) != step)
        emit stepChanged(step);
}

// ---- the upgrade ----------------------------------------------------------------

UpgradeOutcome UpgradeProcess::upgradeFile(const ImageLocation &location, UpgradeKind kind)
{
    UpgradeOutcome outcome = endedFromOutside();
    if (m_lifecycle.begin()) {
        m_mailbox.acceptStatus(true);
        outcome = runSequence(location, kind);
        m_mailbox.acceptStatus(false);
        // An upgrade ended from outside ends so, whatever it had come to.
        if (m_lifecycle.wasCancelled())
            outcome = endedFromOutside();
        m_lifecycle.end(1, true);
    }
    LOG_INFO << "upgrade finished";
    emit finished(outcome);
    return outcome;
}

UpgradeOutcome UpgradeProcess::runSequence(const ImageLocation &location, UpgradeKind kind)
{
    {
        QMutexLocker lock(&m_md5Mutex);
        m_upgradeMd5.clear();
    }
    // An archive's entry is extracted until the sequence returns, however it ends.
    const StagedImage staged(location);
    if (!staged.isReady())
        return notStarted(QStringLiteral("the upgrade file cannot be extracted from its archive."),
                          staged.problem() != FirmwareArchive::Problem::None
                              ? FirmwareChoiceText::archiveProblem(ImagePlan::fileNameOf(location.path),
                                                                   staged.problem(), location.entry)
                              : FirmwareChoiceText::notExtracted(location.fileName(), TemporaryFolders().path(),
                                                                 staged.writeError()));
    const QString path = staged.path();
    PinnedImage image;
    if (const std::optional<UpgradeOutcome> refused = pinUpgradeFile(path, kind, &image))
        return *refused;
    UpgradeOutcome outcome = kind == UpgradeKind::Package
            ? PackageSequence(m_channel, *this, m_lifecycle, [this](int finish) { resetUpgradeParameters(finish); })
                  .run(image)
            : sendImage(image);
    if (outcome.succeeded()) {
        m_mailbox.acceptStatus(false); // nothing the device says now undoes its success
        emit upgradeSucceeded();
        checkRestart(path, &outcome);
    }
    return outcome;
}

UpgradeOutcome UpgradeProcess::sendImage(const PinnedImage &image)
{
    const std::optional<UpgradeOutcome> outcome =
        ImageSteps(m_channel, *this, ImagePlan::singleImage(image.path), image).run();
    return outcome ? *outcome : UpgradeOutcome::cancelled();
}

void UpgradeProcess::checkRestart(const QString &path, UpgradeOutcome *outcome)
{
    if (!m_checksRestart.load() || !m_lifecycle.resume())
        return;
    emit restartCheckStarted();
    {
        const auto wait = m_channel.waitReport(UpgradeWait::Phase::RestartCheck, RestartCheck::LimitMs);
        outcome->check = RestartCheck(m_link, m_mailbox).run(ImagePlan::fileNameOf(path));
    }
    resetUpgradeParameters(1);
}

std::optional<UpgradeOutcome> UpgradeProcess::pinUpgradeFile(const QString &path, UpgradeKind kind,
                                                             PinnedImage *image)
{
    const FirmwareRules::FileVerdict type = FirmwareRules::judgeFileType(path);
    if (type != FirmwareRules::FileVerdict::Accepted)
        return notStarted(QStringLiteral("the upgrade file is empty or not a regular file."),
                          QCoreApplication::translate("UpgradePage", FirmwareRules::refusalText(type)));
    *image = PinnedImage::pin(path);
    if (!image->isPinned()) {
        if (kind == UpgradeKind::Package)
            return PackageSequence::splitFailure(PackageSplitter::SplitError::CannotOpen, *this);
        return notStarted(tr("open upgrade firmware fail!"), tr("打开升级固件失败!"));
    }
    {
        QMutexLocker lock(&m_md5Mutex);
        m_upgradeMd5 = image->md5;
    }
    LOG_INFO << "upgrade file" << path << "pinned:" << image->size << "bytes, MD5" << image->md5;
    return std::nullopt;
}

UpgradeOutcome UpgradeProcess::notStarted(const QString &viewText, const QString &hint)
{
    LOG_WARNING << "upgrade not started:" << viewText;
    emit logMessage(viewText);
    return UpgradeOutcome::of(UpgradeOutcome::Kind::NotStarted, hint);
}

void UpgradeProcess::finishReset(int upgrade_finish)
{
    m_mailbox.setRun(false);
    m_mailbox.startFile();
    enteredStep(-1);
    m_link.set_usb_vid(0);
    m_link.stopSerialRecv();
    m_link.resetDeviceInfoPara();
    if (upgrade_finish != 0)
        m_link.setUpgradeTarget(0);
    LOG_INFO << "reset Upgrade Parameters";
}

// The upgrade page: choosing the firmware file, starting the upgrade through
// the session and following the worker's reports to the upgrade's outcome.
#include "upgradepage.h"
#include "ui_upgradepage.h"

#include "firmwarechoicetext.h"
#include "firmwarerules.h"
#include "firmwareshelf.h"
#include "imageplan.h"
#include "logging.h"
#include "messageboxes.h"
#include "upgradeoutcome.h"
#include "upgradeprocess.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QMimeData>

namespace {
const QLatin1String MultiImageMarker("Merlow_R_Sky_");
// The result line: grey while it tells of work; a verified result in green, an
// unverified one in bold dark orange, both readable on the page's white.
const char NoteStyle[] = "color: rgb(90, 90, 90);";
const char VerifiedNoteStyle[] = "color: rgb(0, 120, 60); font-weight: bold;";
const char NotVerifiedNoteStyle[] = "color: rgb(176, 72, 0); font-weight: bold;";
constexpr int MinimumShownProgress = 5; // the first steps show as 5 %
constexpr int ProgressComplete = 100;
} // namespace

// ---- firmware rules -----------------------------------------------------------------

bool UpgradePage::isPackageNameValid(const QString &filePath) const
{
    return FirmwareRules::isPackageNameValid(filePath);
}

int UpgradePage::checkPrefixAndVersion(const char *firmware, const QString &fileName) const
{
    return FirmwareRules::checkPrefixAndVersion(firmware, fileName);
}

int UpgradePage::checkFirmware(const char *firmware) const
{
    return FirmwareRules::checkFirmware(firmware);
}

QString UpgradePage::getDeviceName(const QString &firmwareStr) const
{
    return FirmwareRules::getDeviceName(firmwareStr);
}

// ---- confirmation and ending a sequence ---------------------------------------------

int UpgradePage::is_continue_upgrading_hint()
{
    if (!m_upgradeFlag)
        return EndUpgrading;
    if (MessageBoxes::question(this, tr("提示"), tr("正在升级中，是否结束？"))) {
        LOG_INFO << "cancel upgrade";
        return EndUpgrading;
    }
    LOG_INFO << "continue upgrade";
    return KeepUpgrading;
}

bool UpgradePage::mayInterruptUpgrade()
{
    if (is_continue_upgrading_hint() == KeepUpgrading)
        return false;
    // Two sequences must never run on the worker at once.
    if (m_session->isBusy()) {
        m_session->cancel();
        waitForRunningTask();
        // A restart check ended so: the success stands, the check adds nothing.
        if (m_showsSuccess && !m_upgradeFlag)
            ui->lbNote->setText(successNote(QString()));
    }
    if (m_upgradeFlag) {
        setUpgradeFlag(false);
        ui->lbNote->setText(cancelledNote()); // until the action asked for says more
    }
    setNoteLook(NoteLook::Plain);
    return true;
}

// The sequence ends after the step in progress. The page stays painted but
// takes no input meanwhile, and the ended sequence's last reports are dropped:
// the user has already chosen to end it.
void UpgradePage::waitForRunningTask()
{
    if (!m_session->isBusy())
        return;
    QEventLoop loop;
    connect(m_session, &DeviceSession::idle, &loop, &QEventLoop::quit);
    setEnabled(false);
    m_endingSequence = true;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_endingSequence = false;
    setEnabled(true);
}

// ---- choosing the file --------------------------------------------------------------

void UpgradePage::on_btnSelectBinFile_clicked()
{
    LOG_INFO << "on_btnSelectBinFile_clicked";
    if (!mayInterruptUpgrade())
        return;
    chooseFile(m_fileChooser());
}

// A firmware file, a folder or a zip archive dropped on the connected page is
// chosen from as Select chooses.
void UpgradePage::dragEnterEvent(QDragEnterEvent *event)
{
    if (m_connected && !m_search.isSearching() && event->mimeData()->hasUrls() && event->mimeData()->urls().size() == 1
        && event->mimeData()->urls().first().isLocalFile())
        event->acceptProposedAction();
}

void UpgradePage::dropEvent(QDropEvent *event)
{
    event->acceptProposedAction();
    if (mayInterruptUpgrade())
        chooseFile(event->mimeData()->urls().first().toLocalFile());
}

// A file alone is judged by the rules; from a folder or zip archive the
// device's own file is chosen, and the bar tells which, from where.
void UpgradePage::chooseFile(const QString &filePath)
{
    const QString fileName = ImagePlan::fileNameOf(filePath);
    LOG_INFO << "filePath" << fileName;
    if (fileName.isEmpty())
        return;
    if (FirmwareShelf::kindOf(filePath) == FirmwareShelf::Kind::File)
        applyChoice(m_session->choose(filePath, m_device_type));
    else
        searchFolderOrArchive(filePath);
}

// A folder may hold thousands of files and an archive hundreds of megabytes:
// the page says what it looks through, and takes no other choice meanwhile.
void UpgradePage::searchFolderOrArchive(const QString &path)
{
    m_noteBeforeSearch = ui->lbNote->text();
    m_upgradeBeforeSearch = ui->btnUpgrade->isEnabled();
    ui->lbNote->setText(tr("正在 %1 中查找适合此设备的固件...").arg(ImagePlan::fileNameOf(path)));
    ui->btnSelectBinFile->setEnabled(false);
    ui->btnUpgrade->setEnabled(false);
    m_search.start(path, QByteArray(m_firmware, int(qstrnlen(m_firmware, sizeof m_firmware))), m_device_type);
}

void UpgradePage::onFirmwareFound(const FirmwareChoice &choice)
{
    ui->lbNote->setText(m_noteBeforeSearch);
    ui->btnSelectBinFile->setEnabled(true);
    ui->btnUpgrade->setEnabled(m_upgradeBeforeSearch);
    applyChoice(choice);
}

// Kept apart until accepted: a refused choice changes nothing.
void UpgradePage::applyChoice(const FirmwareChoice &choice)
{
    if (choice.verdict == FirmwareChoice::Verdict::Refused)
        LOG_INFO << "###ret" << m_session->judge(choice.sourcePath).check;
    if (choice.verdict == FirmwareChoice::Verdict::UpToDate) {
        ui->lbNote->setText(FirmwareChoiceText::upToDateNote(choice));
        return;
    }
    if (!choice.sends(false)) {
        MessageBoxes::warning(this, tr("警告"), FirmwareChoiceText::refusal(choice));
        return;
    }
    // Kept here until Upgrade hands it to the worker.
    m_image = choice.chosen.location;
    m_filePath = m_image.path;
    m_fileName = m_image.fileName();
    m_chosenText = FirmwareChoiceText::chosenNote(choice);
    LOG_INFO << "filePath" << m_filePath << m_image.entry;
    showChosenFile();
    ui->btnUpgrade->setEnabled(true);
}

// A long name is cut in its middle, where release names differ least, and
// given whole in the tooltip. A bar not on screen has no width to fit yet.
void UpgradePage::showChosenFile()
{
    const QFontMetrics metrics = ui->progressBar->fontMetrics();
    const int room = ui->progressBar->contentsRect().width() - 2 * metrics.averageCharWidth();
    const QString shown = ui->progressBar->isVisible() ? metrics.elidedText(m_chosenText, Qt::ElideMiddle, room)
                                                       : m_chosenText;
    ui->progressBar->setFormat(shown);
    ui->progressBar->setToolTip(shown == m_chosenText ? QString() : m_chosenText);
}

// ---- the upgrade --------------------------------------------------------------------

void UpgradePage::on_btnUpgrade_clicked()
{
    if (!mayInterruptUpgrade())
        return;
    m_noteBeforeUpgrade = ui->lbNote->text();
    m_showsSuccess = false;
    ui->lbNote->setText(upgradingNote());
    setNoteLook(NoteLook::Plain);
    setUpgradeFlag(true);
    onUpgradeProgress(0); // empty until the first report, not full from the last upgrade
    LOG_INFO << "!!!!m_upgradeFlag " << m_upgradeFlag;

    if (firmwareText().contains(MultiImageMarker)) {
        LOG_INFO << "Found 'Merlow_R_Sky_' in firmware.";
    } else {
        LOG_WARNING << "no Found 'Merlow_R_Sky_' in firmware." << "target" << MultiImageMarker
                    << "m_firmware" << firmwareText();
    }
    if (m_session->sequenceFor(m_device_type) == UpgradeKind::Package) {
        LOG_INFO << "tarel sky m_upgradeFlag" << m_upgradeFlag << "m_device_type" << m_device_type;
        LOG_INFO << "upgradeFirmwarePath" << m_filePath << m_image.entry;
        LOG_INFO << "upgradeFirmwareName" << m_fileName;
    } else {
        LOG_INFO << "#### EDU upgrade" << m_upgradeFlag;
    }
    upgradeImageProcess();
}

// The session picks the sequence for the device, as the command's does.
void UpgradePage::launch(const ImageLocation &image)
{
    m_session->launch(image, m_device_type);
}

void UpgradePage::upgradeImageProcess()
{
    launch(m_image);
}

void UpgradePage::upgradeImageProcess_tarel_sky(const QString &upgradeFirmwarePath,
                                                const QString &upgradeFirmwareName)
{
    LOG_INFO << "upgradeFirmwarePath" << upgradeFirmwarePath;
    LOG_INFO << "upgradeFirmwareName" << upgradeFirmwareName;
    launch(upgradeFirmwarePath);
}

void UpgradePage::onUpgradeProgress(int percent)
{
    if (m_endingSequence)
        return;
    // A full bar is no success: the device may still be flashing at 100.
    const int bounded = qBound(0, percent, ProgressComplete);
    const int shown = (bounded >= 1 && bounded < MinimumShownProgress) ? MinimumShownProgress : bounded;
    ui->progressBar->setValue(shown);
    ui->progressBar->setFormat(QStringLiteral("%1%").arg(shown));
}

void UpgradePage::onUpgradeSucceeded()
{
    if (m_endingSequence)
        return;
    onUpgradeProgress(ProgressComplete);
    ui->lbNote->setText(tr("升级完成！"));
    m_showsSuccess = true;
    setUpgradeFlag(false);
    ui->btnSelectBinFile->setEnabled(true);
    ui->btnUpgrade->setEnabled(false);
}

void UpgradePage::on_upgrade_process_hint(const QString &message, bool isHint)
{
    if (m_endingSequence)
        return;
    if (isHint) {
        MessageBoxes::warning(this, tr("警告"), message);
        ui->lbNote->setText(message);
        setUpgradeFlag(false);
    } else {
        ui->lbNote->setText(tr("升级失败，请检查文件重新导入"));
        ui->btnSelectBinFile->setEnabled(true);
    }
}

void UpgradePage::showOutcome(const UpgradeOutcome &outcome)
{
    if (m_endingSequence)
        return;
    LOG_INFO << "upgrade outcome" << int(outcome.kind) << outcome.summary();
    switch (outcome.kind) {
    case UpgradeOutcome::Kind::Succeeded:
        if (outcome.restartChecked())
            onRestartChecked(outcome.check);
        return;
    case UpgradeOutcome::Kind::NotStarted:
        onUpgradeNotStarted(outcome.hint);
        return;
    case UpgradeOutcome::Kind::Cancelled:
        return;
    default:
        on_upgrade_process_hint(outcome.hint, true);
        return;
    }
}

// The restart check of a success the page still shows adds to its note. The
// check's reports may come after the user has moved on (a new upgrade, a
// disconnect): they are dropped then.
QString UpgradePage::successNote(const QString &addition) const
{
    const QString finished = tr("升级完成！");
    return addition.isEmpty() ? finished : finished + QLatin1Char(' ') + addition;
}

void UpgradePage::onRestartChecked(const RestartCheck::Result &result)
{
    if (!m_showsSuccess || m_upgradeFlag)
        return;
    const bool verified = result.outcome == RestartCheck::Outcome::Verified;
    ui->lbNote->setText(successNote(RestartCheck::describe(result)));
    setNoteLook(verified ? NoteLook::Verified : NoteLook::NotVerified);
    if (verified || result.outcome == RestartCheck::Outcome::OtherFirmware)
        keepIdentity(result.identity); // the next file is judged against what the device runs now
    // The device did not show it runs the new firmware: that must not pass for a success.
    if (!verified)
        MessageBoxes::warning(this, tr("警告"), RestartCheck::describe(result));
}

void UpgradePage::setNoteLook(NoteLook look)
{
    static const char *const Looks[] = {NoteStyle, VerifiedNoteStyle, NotVerifiedNoteStyle};
    ui->lbNote->setStyleSheet(QLatin1String(Looks[int(look)]));
}

QString UpgradePage::upgradingNote() const
{
    return tr("升级中，请勿断电或重启！");
}

// A wait is shown beside the note it belongs to: the upgrade's warning not to
// unplug, or the success the restart check adds to.
void UpgradePage::onUpgradeWaiting(const UpgradeWait &wait)
{
    if (m_endingSequence)
        return;
    if (m_upgradeFlag)
        ui->lbNote->setText(wait.isOver() ? upgradingNote() : upgradingNote() + QLatin1Char(' ') + wait.text());
    else if (m_showsSuccess && wait.phase == UpgradeWait::Phase::RestartCheck)
        ui->lbNote->setText(successNote(wait.text()));
}

// Nothing was sent: the page goes back to the file just chosen, ready for
// another try, before the box holds the user's attention.
void UpgradePage::onUpgradeNotStarted(const QString &message)
{
    if (m_endingSequence || !m_upgradeFlag)
        return;
    LOG_WARNING << "upgrade not started:" << message;
    setUpgradeFlag(false);
    ui->lbNote->setText(m_noteBeforeUpgrade);
    ui->progressBar->setValue(0);
    showChosenFile();
    ui->btnUpgrade->setEnabled(true);
    ui->btnSelectBinFile->setEnabled(true);
    MessageBoxes::warning(this, tr("警告"), message);
}

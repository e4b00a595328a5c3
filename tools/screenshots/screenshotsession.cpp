#include "screenshotsession.h"

#include "mainwindow.h"
#include "settingpage.h"
#include "sidebar.h"
#include "sidebarmenuitem.h"
#include "simulatorportlister.h"
#include "upgradepage.h"
#include "upgradeprocess.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QTest>
#include <QToolButton>
#include <cstdio>

namespace {
const QSize WindowSize(1100, 720);
const QByteArray DeviceFirmware = "Merlow_R_Sky_1_0_5";
// The files the walk chooses, in its order: each is newer than what the
// device runs by then (the check of a restart keeps what it reported).
const QString NewerImage = QStringLiteral("Merlow_R_Sky_1_0_6.img");
const QString OlderImage = QStringLiteral("Merlow_R_Sky_1_0_4.img"); // refused as too low
const QString NextImage = QStringLiteral("Merlow_R_Sky_1_0_7.img");
const QString LastImage = QStringLiteral("Merlow_R_Sky_1_0_8.img");
constexpr int ImageBytes = 16 * 1024;
constexpr int PatternPeriod = 251;      // image bytes: a pattern, so every run sends the same file
constexpr int ShownProgress = 37;       // the percentage the device holds for the upgrading picture
constexpr int ProgressComplete = 100;
// A whole upgrade includes the reboot pause and the port settling of the worker.
constexpr int StepTimeoutMs = 60000;
constexpr int SettleMs = 300;           // lets layouts and queued reports arrive before a picture
const QLatin1String NoDeviceText("NO Device");

// The box has no window-manager frame here: a caption strip and an outline stand in for it.
constexpr int CaptionPadding = 6;
const QSize FileDialogSize(720, 460);
const QColor CaptionColour(96, 96, 96);
const QColor OutlineColour(64, 64, 64);

QByteArray imageBytes()
{
    QByteArray bytes(ImageBytes, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i % PatternPeriod);
    return bytes;
}

DeviceIdentity deviceIdentity()
{
    DeviceIdentity identity;
    identity.vendorId = AR_FPV_BOARD_TYPE_GT_SKY;
    identity.firmware = DeviceFirmware;
    return identity;
}
} // namespace

ScreenshotSession::ScreenshotSession(const QDir &outDir)
    : m_outDir(outDir)
    , m_sim(deviceIdentity())
{
}

ScreenshotSession::~ScreenshotSession()
{
    m_window.reset();
    MessageBoxes::setHandler(nullptr);
}

bool ScreenshotSession::run()
{
    static const Language languages[] = {{"cn", SettingPage::Chinese}, {"en", SettingPage::English}};
    if (!start())
        return false;
    for (const Language &language : languages)
        if (!shootLanguage(language))
            return false;
    if (m_unexpectedBox) {
        std::fprintf(stderr, "a message box came up that no step expected\n");
        return false;
    }
    return true;
}

bool ScreenshotSession::start()
{
    if (!m_sim.start(QDir::current().filePath(QStringLiteral("device")))) {
        std::fprintf(stderr, "the simulated device did not start: %s\n", qPrintable(m_sim.errorString()));
        return false;
    }
    for (const QString &name : {NewerImage, OlderImage, NextImage, LastImage}) {
        QFile image(name);
        if (!image.open(QIODevice::WriteOnly) || image.write(imageBytes()) != ImageBytes) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(image.fileName()));
            return false;
        }
    }
    MessageBoxes::setHandler([this](MessageBoxes::Kind kind, const QString &title, const QString &text) {
        return answerBox(kind, title, text);
    });

    m_window = std::make_unique<MainWindow>(std::make_shared<SimulatorPortLister>(&m_sim));
    m_upgradePage = m_window->findChild<UpgradePage *>();
    m_settingPage = m_window->findChild<SettingPage *>();
    m_upgradePage->setFileChooser([this] { return QDir::current().absoluteFilePath(m_chosenFile); });
    QObject::connect(m_upgradePage->worker(), &UpgradeProcess::sigUpgradeWaiting, m_upgradePage,
                     [this](const UpgradeWait &wait) { m_waitPhase = wait.phase; });
    m_window->resize(WindowSize);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) {
        std::fprintf(stderr, "the window was never shown\n");
        return false;
    }
    return true;
}

// The language is chosen on the settings page, as the user does; the upgrade
// page then starts from its connect prompt.
bool ScreenshotSession::shootLanguage(const Language &language)
{
    const QString prefix = QString::fromLatin1(language.prefix);
    showPage(MainWindow::SettingPageIndex);
    chooseLanguage(language.entry);
    showPage(MainWindow::UpgradePageIndex);
    if (!connectAndUpgrade(prefix) || !upgradeNotVerified(prefix) || !upgradeUnplugged(prefix)
        || !upgradeCancelled(prefix))
        return false;
    showPage(MainWindow::SettingPageIndex);
    return saveWindow(prefix, "11-settings");
}

void ScreenshotSession::chooseLanguage(int index)
{
    auto *list = m_settingPage->findChild<QComboBox *>(QStringLiteral("cmbLanguageList"));
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void ScreenshotSession::showPage(int index)
{
    m_window->findChild<SideBar *>()->menuItem(index)->findChild<QToolButton *>()->click();
}

bool ScreenshotSession::connectAndUpgrade(const QString &prefix)
{
    auto *deviceName = m_upgradePage->findChild<QLabel *>(QStringLiteral("lbConnNote"));
    auto *firmware = m_upgradePage->findChild<QLabel *>(QStringLiteral("lbFirmware"));
    auto *upgradePanel = m_upgradePage->findChild<QWidget *>(QStringLiteral("widgetUpg"));
    auto *progress = m_upgradePage->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    // Each language starts from the same device, which takes the new
    // firmware and restarts with it, as a real unit does.
    m_sim.setIdentity(deviceIdentity());
    m_sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithNewFirmware);

    // A language change names no device until the next presence report.
    if (!waitFor([&] { return deviceName->text().compare(NoDeviceText, Qt::CaseInsensitive) != 0; },
                 "the device's name on the connect prompt")
        || !saveWindow(prefix, "1-connect"))
        return false;

    clickButton("btnConnDevice");
    if (!waitFor([&] { return upgradePanel->isVisible() && !firmware->text().isEmpty(); },
                 "the device's identity")
        || !saveWindow(prefix, "2-connected"))
        return false;

    if (!save(windowWithFileDialog(), prefix, "12-file-dialog"))
        return false;
    if (!choose(NewerImage) || !saveWindow(prefix, "3-file-chosen"))
        return false;

    // The device holds its flashing at one percentage until told to finish.
    m_sim.setStatusScript({{0, STAT_VERIFY_IMAGE}, {0, STAT_START}, {ShownProgress, STAT_IN_PROGRESS}});
    clickButton("btnUpgrade");
    if (!waitFor([this] { return m_waitPhase == UpgradeWait::Phase::Restart; }, "the wait for the restart")
        || !saveWindow(prefix, "4-waiting"))
        return false;
    if (!waitFor([&] { return progress->value() == ShownProgress; }, "the upgrade in progress")
        || !saveWindow(prefix, "5-upgrading"))
        return false;
    m_sim.setStatusScript({{ProgressComplete, STAT_DONE}});
    if (!waitForTheEnd() || !saveWindow(prefix, "6-verified"))
        return false;

    m_chosenFile = OlderImage;
    return clickExpectingBox("btnSelectBinFile", prefix, "10-warning");
}

// The restarted device reports the firmware it ran before: a box says so,
// and the note stays marked.
bool ScreenshotSession::upgradeNotVerified(const QString &prefix)
{
    m_sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithOldFirmware);
    m_sim.setStatusScript({{ProgressComplete, STAT_DONE}});
    return choose(NextImage) && clickExpectingBox("btnUpgrade", prefix, "7-not-verified") && waitForTheEnd();
}

// Unplugged while it flashes, the device is waited for; plugged in again, it is followed to its end.
bool ScreenshotSession::upgradeUnplugged(const QString &prefix)
{
    auto *progress = m_upgradePage->findChild<QProgressBar *>(QStringLiteral("progressBar"));
    m_sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithNewFirmware);
    m_sim.setStatusScript({{ShownProgress, STAT_IN_PROGRESS}});
    if (!choose(NextImage))
        return false;
    clickButton("btnUpgrade");
    if (!waitFor([&] { return progress->value() == ShownProgress; }, "the upgrade in progress"))
        return false;
    m_sim.vanish();
    if (!waitFor([this] { return m_waitPhase == UpgradeWait::Phase::Disconnected; }, "the wait for the unplugged device")
        || !saveWindow(prefix, "8-disconnected"))
        return false;
    m_sim.setStatusScript({{ProgressComplete, STAT_DONE}});
    m_sim.reappear();
    return waitForTheEnd();
}

// Disconnect in the middle of an upgrade, confirmed: the prompt says it was cancelled.
bool ScreenshotSession::upgradeCancelled(const QString &prefix)
{
    if (!choose(LastImage))
        return false;
    clickButton("btnUpgrade");
    if (!waitFor([this] { return m_waitPhase == UpgradeWait::Phase::Restart; }, "the wait for the restart"))
        return false;
    m_questionsToConfirm = 1;
    clickButton("btnDisConnDevice");
    auto *prompt = m_upgradePage->findChild<QWidget *>(QStringLiteral("widgetConn"));
    return waitFor([&] { return prompt->isVisible() && !m_upgradePage->worker()->isSequenceRunning(); },
                   "the connect prompt after the cancel")
        && saveWindow(prefix, "9-cancelled");
}

bool ScreenshotSession::choose(const QString &file)
{
    auto *upgradeButton = m_upgradePage->findChild<QToolButton *>(QStringLiteral("btnUpgrade"));
    m_chosenFile = file;
    m_waitPhase = UpgradeWait::Phase::None;
    clickButton("btnSelectBinFile");
    return waitFor([&] { return upgradeButton->isEnabled(); }, "the chosen file");
}

// The end of an upgrade, and of the restarted device's check that adds to its note.
bool ScreenshotSession::waitForTheEnd()
{
    return waitFor([this] { return !m_upgradePage->getUpgradeFlag(); }, "the end of the upgrade")
        && waitFor([this] { return !m_upgradePage->worker()->isSequenceRunning(); }, "the restarted device's check");
}

// Clicks `button`; the warning box that comes of it is saved as a picture.
bool ScreenshotSession::clickExpectingBox(const char *button, const QString &prefix, const char *name)
{
    m_boxShotPrefix = prefix;
    m_boxShotName = name;
    m_boxShotSaved = false;
    clickButton(button);
    if (!waitFor([this] { return m_boxShotSaved; }, name))
        return false;
    m_boxShotPrefix.clear();
    return true;
}

bool ScreenshotSession::waitFor(const std::function<bool()> &done, const char *what)
{
    if (QTest::qWaitFor(done, StepTimeoutMs))
        return true;
    std::fprintf(stderr, "gave up waiting for %s\n", what);
    return false;
}

void ScreenshotSession::settle()
{
    QTest::qWait(SettleMs);
}

bool ScreenshotSession::save(const QPixmap &shot, const QString &prefix, const char *name)
{
    const QString path = m_outDir.filePath(QStringLiteral("%1-%2.png").arg(prefix, QLatin1String(name)));
    if (!shot.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    return true;
}

bool ScreenshotSession::saveWindow(const QString &prefix, const char *name)
{
    settle();
    return save(m_window->grab(), prefix, name);
}

QMessageBox::StandardButton ScreenshotSession::answerBox(MessageBoxes::Kind kind, const QString &title,
                                                         const QString &text)
{
    if (kind == MessageBoxes::Kind::Warning && !m_boxShotPrefix.isEmpty() && !m_boxShotSaved) {
        m_boxShotSaved = save(windowWithBox(title, text), m_boxShotPrefix, m_boxShotName);
        return QMessageBox::Ok;
    }
    if (kind == MessageBoxes::Kind::Question && m_questionsToConfirm > 0) {
        --m_questionsToConfirm;
        return QMessageBox::Yes;
    }
    std::fprintf(stderr, "unexpected message box \"%s\": %s\n", qPrintable(title), qPrintable(text));
    m_unexpectedBox = true;
    return kind == MessageBoxes::Kind::Question ? QMessageBox::Yes : QMessageBox::Ok;
}

QPixmap ScreenshotSession::windowWithBox(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, m_window.get());
    return windowWith(box);
}

// Qt's own file dialog (where the desktop offers no native one), in the
// folder of the sample files.
QPixmap ScreenshotSession::windowWithFileDialog()
{
    QFileDialog dialog(m_window.get());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(QDir::current());
    dialog.resize(FileDialogSize);
    return windowWith(dialog);
}

// The dialog as the user sees it, centred over the window.
QPixmap ScreenshotSession::windowWith(QWidget &dialog)
{
    dialog.show();
    settle();
    const QPixmap boxShot = dialog.grab();
    QPixmap shot = m_window->grab();
    dialog.close();
    const QString title = dialog.windowTitle();

    const int captionHeight = dialog.fontMetrics().height() + 2 * CaptionPadding;
    QRect frame(QPoint(), QSize(boxShot.width(), boxShot.height() + captionHeight));
    frame.moveCenter(shot.rect().center());
    const QRect caption(frame.topLeft(), QSize(frame.width(), captionHeight));

    QPainter painter(&shot);
    painter.fillRect(caption, CaptionColour);
    painter.setPen(Qt::white);
    painter.setFont(dialog.font());
    painter.drawText(caption.adjusted(CaptionPadding, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     title);
    painter.drawPixmap(caption.bottomLeft() + QPoint(0, 1), boxShot);
    painter.setPen(OutlineColour);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    return shot;
}

void ScreenshotSession::clickButton(const char *name)
{
    m_upgradePage->findChild<QToolButton *>(QLatin1String(name))->click();
}

#ifndef SCREENSHOTSESSION_H
#define SCREENSHOTSESSION_H

#include "devicesimulator.h"
#include "messageboxes.h"
#include "upgradewait.h"

#include <QDir>
#include <QString>
#include <functional>
#include <memory>

class MainWindow;
class QPixmap;
class SettingPage;
class UpgradePage;

// Walks the main window through what a user sees during upgrades of the
// simulated device (connect, identity, the file dialog, file, the wait for
// the restart, progress, a verified end, a refused file, a restarted device
// with the old firmware, a device unplugged and plugged in again, a cancel,
// the log) and saves the window at each step, once per language. Runs in the
// current directory, where the window keeps its settings and log files.
class ScreenshotSession
{
public:
    explicit ScreenshotSession(const QDir &outDir);
    ~ScreenshotSession();

    // False, with the reason on stderr, when a step did not come about.
    bool run();

private:
    struct Language
    {
        const char *prefix; // of the file names
        int entry;          // in the settings page's language list
    };

    bool start();
    bool shootLanguage(const Language &language);
    void chooseLanguage(int index);
    void showPage(int index);
    bool connectAndUpgrade(const QString &prefix);
    bool upgradeNotVerified(const QString &prefix);
    bool upgradeUnplugged(const QString &prefix);
    bool upgradeCancelled(const QString &prefix);
    bool choose(const QString &file);
    bool waitForTheEnd();
    bool clickExpectingBox(const char *button, const QString &prefix, const char *name);

    // Processes events until `done` holds; reports `what` when it never does.
    bool waitFor(const std::function<bool()> &done, const char *what);
    void settle();
    bool save(const QPixmap &shot, const QString &prefix, const char *name);
    bool saveWindow(const QString &prefix, const char *name);

    // Answers every message box; the one awaited as a picture is drawn over the window.
    QMessageBox::StandardButton answerBox(MessageBoxes::Kind kind, const QString &title,
                                          const QString &text);
    QPixmap windowWithBox(const QString &title, const QString &text);
    QPixmap windowWithFileDialog();
    QPixmap windowWith(QWidget &dialog); // with its caption, as a window manager frames it

    void clickButton(const char *name);

    QDir m_outDir;
    DeviceSimulator m_sim;
    std::unique_ptr<MainWindow> m_window; // uses the simulator: declared after it
    UpgradePage *m_upgradePage = nullptr;
    SettingPage *m_settingPage = nullptr;
    QString m_chosenFile; // what the file dialog answers, in the current directory
    QString m_boxShotPrefix; // set while a warning box is awaited as a picture
    const char *m_boxShotName = nullptr;
    bool m_boxShotSaved = false;
    int m_questionsToConfirm = 0; // questions answered Yes, as the user does
    UpgradeWait::Phase m_waitPhase = UpgradeWait::Phase::None; // the worker's last wait
    bool m_unexpectedBox = false;
};

#endif // SCREENSHOTSESSION_H

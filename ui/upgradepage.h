#ifndef UPGRADEPAGE_H
#define UPGRADEPAGE_H

#include "deviceconfig.h"
#include "devicecommandsender.h"
#include "devicesession.h"
#include "firmwaresearch.h"
#include "restartcheck.h"
#include "upgradewait.h"
#include "upgradeclock.h"

#include <QWidget>
#include <functional>
#include <memory>

class QThread;
class SettingPage;
class UpgradeProcess;
struct UpgradeOutcome;
class UsbCheck;
class UsbVirtualSerial;

namespace Ui {
class UpgradePage;
}

// The program's main page: shows the attached device, connects to it, takes
// a firmware file that fits the device and runs the upgrade through the
// device session. The session's work runs off this thread: the page asks,
// stays responsive, and shows the answer when it comes.
class UpgradePage : public QWidget
{
    Q_OBJECT

public:
    // Answers of is_continue_upgrading_hint().
    enum UpgradingAnswer {
        EndUpgrading = 0,  // no upgrade runs, or the user chose to end it
        KeepUpgrading = 1,
    };

    // Picks the firmware file; an empty path means the user cancelled.
    using FileChooser = std::function<QString()>;

    // The link is required and must outlive the page; the settings page may be null.
    UpgradePage(QWidget *parent, UsbVirtualSerial *usbVirtualSerial, SettingPage *settingPage,
                std::shared_ptr<const UpgradeClock> clock = std::make_shared<SystemClock>());
    ~UpgradePage() override;

    void enterDeviceConnNotePage();
    void enterUpgPage(int usb_vid);
    int is_continue_upgrading_hint();
    // Asked before the window closes: false when the user keeps the running
    // upgrade; otherwise any upgrade has ended, as a disconnect ends it.
    bool mayClose();
    bool getUpgradeFlag() const { return m_upgradeFlag; }
    void setUpgradeFlag(bool flag) { m_upgradeFlag = flag; }
    // Replaces the platform's open-file dialog.
    void setFileChooser(FileChooser chooser);

    // The firmware rules, applied to this page's device.
    bool isPackageNameValid(const QString &filePath) const;
    Q_INVOKABLE int checkPrefixAndVersion(const char *firmware, const QString &fileName) const;
    Q_INVOKABLE int checkFirmware(const char *firmware) const;
    QString getDeviceName(const QString &firmwareStr) const;

    // A worker hint: a box and the note (isHint), or the failure note. Not a
    // slot: the form's auto-connection would look for a sender by its name.
    void on_upgrade_process_hint(const QString &message, bool isHint);

    // The page's upgrade worker, for tests that speak in its place.
    UpgradeProcess *worker() const { return m_session->worker(); }
    // True while the device is asked who it is or an upgrade runs.
    bool isBusy() const { return m_session->isBusy(); }

signals:
    // A console command has been sent and its outcome shown.
    void consoleCommandDone();
    // Connect's question has been answered and the answer shown.
    void connectAnswered();

public slots:
    void onUpgradeProgress(int percent);
    // The worker's one report of success: only it shows the success texts.
    void onUpgradeSucceeded();
    void upgradeImageProcess();
    void upgradeImageProcess_tarel_sky(const QString &upgradeFirmwarePath,
                                       const QString &upgradeFirmwareName);
    // How the upgrade ended, as the worker decided it.
    void showOutcome(const UpgradeOutcome &outcome);
    void onUpgradeWaiting(const UpgradeWait &wait);
    void onUpgradeNotStarted(const QString &message);
    void onRestartChecked(const RestartCheck::Result &result);
    void handleDeviceDetected(quint16 vid);
    void handleTextFromSettingPage(const QString &text);
    void handleSenderTextstatus(int sendtextstatus);
    void onConnected(const DeviceSession::Connection &connection);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void on_btnConnDevice_clicked();
    void on_btnDisConnDevice_clicked();
    void on_btnSelectBinFile_clicked();
    void on_btnUpgrade_clicked();
    void on_btnUsb_clicked();
    void on_btnQA_clicked();

private:
    void applyStyleSheets();
    void connectSignals();
    void showUpgradePanel();
    // The panel while Connect's question is under way.
    void showConnectingPanel();
    // Ends any upgrade, closes the port and returns to the connect prompt.
    void disconnectDevice();
    QString upgradingNote() const;
    QString cancelledNote() const { return tr("已取消"); }
    // How the result line looks: plain, or the restart check's verdict.
    enum class NoteLook { Plain, Verified, NotVerified };
    void setNoteLook(NoteLook look);
    // The chosen file's name on the bar, cut short when it does not fit.
    void showChosenFile();
    // The success text, with what the restart check adds to it.
    QString successNote(const QString &addition) const;
    // Keeps the device's identity as the page's own and shows it.
    void keepIdentity(const DeviceIdentityInfo &identity);
    void showIdentity();
    QString defaultDeviceName(int vid) const;
    QString firmwareText() const;
    // Shows a port warning unless one is already open.
    void warnUnlessWarningShown(const QString &title, const QString &text);
    void onConsoleRecordSent(DeviceCommandSender::Outcome outcome, int decodedBytes,
                             const QString &deniedText);
    void reportTruncatedCommand(int decodedBytes);
    // False when the user keeps the running upgrade; otherwise it has ended.
    bool mayInterruptUpgrade();
    void waitForRunningTask();
    void launch(const ImageLocation &image);
    // A file by the rules, or the device's file from a folder or zip archive
    // (looked for off this thread), then the bar and Upgrade; an empty path
    // changes nothing.
    void chooseFile(const QString &filePath);
    void searchFolderOrArchive(const QString &path);
    void onFirmwareFound(const FirmwareChoice &choice);
    void applyChoice(const FirmwareChoice &choice);

    int m_device_type = 0;
    bool m_upgradeFlag = false;
    QString m_filePath;
    QString m_fileName;
    ImageLocation m_image;  // the chosen file, perhaps an archive's entry
    QString m_chosenText;   // what the bar says of it
    char m_hw_ver[32] = {};
    char m_sn_num[32] = {};
    char m_firmware[64] = {};
    int m_chip_temperature = 0;
    bool m_isUsbWarningShown = false;
    Ui::UpgradePage *ui;
    UsbVirtualSerial *m_usbVirtualSerial;
    DeviceSession *m_session; // a child: gone before the link
    SettingPage *m_settingPage;
    QThread *m_detectThread = nullptr;
    UsbCheck *m_presencePoller = nullptr; // lives on m_detectThread
    QThread *m_commandThread = nullptr;
    DeviceCommandSender *m_commandSender = nullptr; // lives on m_commandThread
    DeviceConfig m_config;

    quint16 m_previousVid = 0;      // the identifier the presence handler saw last
    bool m_endingSequence = false;  // reports of a sequence being ended are dropped
    quint64 m_question = 0;         // Connect's question under way, whose answer is awaited (0: none)
    bool m_showsSuccess = false;    // the note tells of the last upgrade's success
    bool m_connected = false;       // the device answered Connect and has not been let go
    QString m_noteBeforeUpgrade;    // put back when an upgrade does not start
    FileChooser m_fileChooser;
    FirmwareSearch m_search;        // a folder or archive being looked through
    QString m_noteBeforeSearch;     // put back when the search ends
    bool m_upgradeBeforeSearch = false; // Upgrade was enabled, for the file chosen before
};

#endif // UPGRADEPAGE_H

#ifndef UPGRADEPROCESS_H
#define UPGRADEPROCESS_H

#include "ARNetType.h"
#include "packagesplitter.h"
#include "pinnedimage.h"
#include "restartcheck.h"
#include "sequencelifecycle.h"
#include "statusevaluation.h"
#include "upgradeclock.h"

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>

class QFile;
class UsbVirtualSerial;
class WaitReport;

// What an upgrade sends: one image file, or a multi-image package.
enum class UpgradeKind { SingleImage, Package };

// The upgrade worker. It holds the state of the upgrade in progress, takes the
// device's replies from the link, and runs the upgrade sequences on the
// calling thread (a pool thread). It talks to the pages only through signals.
// The steps themselves are the step machine's (ImageSteps), driven for a
// package by PackageSequence; this class offers them its primitives.
//
// The link's replies reach the worker's slots directly on the link's thread:
// the slots only store words and the status record (under a lock) and wake
// the sequence, so they are safe there and an upgrade never waits on a busy
// window.
class UpgradeProcess : public QObject
{
    Q_OBJECT

public:
    // Fixed values of the transfer.
    static constexpr int MaxFrameBytes = 1048576;
    static constexpr int DefaultSegmentLength = 1024;
    static constexpr unsigned RequestTransmissions = 5;
    static constexpr unsigned AckTimeoutMs = 2000;
    static constexpr unsigned SensorAckTimeoutMs = 10000;
    static constexpr int VerdictPollMs = 100;
    static constexpr int VerdictPolls = 60;
    static constexpr int PortRetryMs = 1000;
    static constexpr int PortSettleMs = 5000;
    static constexpr int ReconnectLimitMs = 300000; // as long as the reboot loop waits for its notice
    static constexpr int RebootPauseMs = 5000;
    static constexpr int RebootRepeats = 60;
    static constexpr int StatusPauseMs = 500;
    static constexpr int StepPauseMs = 10;
    static constexpr int MaxResends = 5;
    static constexpr int NoVerdict = -2;
    static constexpr int STATUS_TIMEOUT = 120; // seconds a status may stand still
    static constexpr int WaitReportIntervalMs = 5000; // a long wait is told at least this often

    explicit UpgradeProcess(UsbVirtualSerial *serial,
                            std::shared_ptr<const UpgradeClock> clock = std::make_shared<SystemClock>(),
                            QObject *parent = nullptr);
    ~UpgradeProcess() override;

    // Upgrades the file at `path`; the one way a file is handed to the worker.
    void upgradeFile(const QString &path, UpgradeKind kind);
    // With the check on, a successful upgrade goes on to check the restarted
    // device (RestartCheck) before its sequence ends.
    void setChecksRestart(bool check) { m_checksRestart.store(check); }

    void setRun(bool run);
    bool beRun() const { return bRun.load(); }
    int getUpgStep() const { return upgStep.load(); }
    void setUpgStep(int step)
    {
        if (upgStep.exchange(step) != step)
            emit stepChanged(step);
    }
    // The image that upgradeProcess() sends.
    void setBinFilePath(const QString &filePath) { binFilePath = filePath; }
    // Called before a sequence is handed to a pool thread: a reset that comes
    // before the sequence has started then cancels it instead of being lost.
    void expectSequence() { m_lifecycle.expect(); }
    bool isSequenceRunning() const { return m_lifecycle.isRunning(); }
    // True when the last sequence was ended from outside (the page's disconnect).
    bool wasCancelled() const { return m_lifecycle.wasCancelled(); }
    // After a sequence has returned: the MD5 of the file it was started with,
    // as pinned before anything was sent, which is all that can have been
    // sent; empty when the file was never pinned.
    QByteArray upgradeFileMd5() const { return m_upgradeMd5; }
    ar_upgrade_status latestStatus() const;

    // Transfer primitives; they run on the sequence's thread and block it.
    int getSegmentLength() const;
    qint32 commandUpgSendRecv(unsigned int cmd, unsigned short type, unsigned short format,
                              char *date, unsigned int dataLenght);
    // Returns segmentLen, -1 when a frame failed, or FileChanged when the file
    // ended early (nothing of the short read is sent).
    static constexpr int FileChanged = -2;
    int commandSendWithFileRecv(unsigned int cmd, unsigned int type, unsigned int format, QFile *file,
                                unsigned int segmentLen, unsigned int imgType);
    int waitReceiveDateResponse();
    bool waitSerialResponse();
    void upgReboot(const char *reboot_mode);
    void resetSendData();
    // Returns the worker to idle. Called while a sequence runs on another
    // thread, it ends the sequence and takes effect after the step in progress.
    void resetUpgradeParameters(int upgrade_finish) { m_lifecycle.reset(upgrade_finish); }

    // One step of the step machine, for a single image or a package's part.
    void upgCommandProcess(ar_upgrade_status *upgradestatus, int segLength);
    void upgCommandProcess_tarel_sky(ar_upgrade_status *upgradestatus, int segLength,
                                     const QString &upgradeFirmwarePath,
                                     const QString &upgradeFirmwareName, int upgradeFirmwareType,
                                     int upgradeSubFirmwareNum, int curSendUpgradeSubFirmwareNum);
    void recordUpgradeStatus(int status, int percent) { m_status.recordUpgradeStatus(status, percent); }
    // Evaluates one status report of the status phase; true when it ended the sequence.
    bool evaluateStatus(const ar_upgrade_status &report, bool *needReboot)
    {
        return m_status.evaluateStatus(report, needReboot);
    }

    // Multi-image packages: splitting into part files and naming their types.
    // Splits into `outputDir` (empty: the working directory); `error` says why a package was rejected.
    Q_INVOKABLE int upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths,
                                                const QString &outputDir = QString(),
                                                PackageSplitter::SplitError *error = nullptr);
    Q_INVOKABLE IMG_TYPE getImgTypeFromFileName(const QString &upgradeFirmwareName);

public slots:
    // The two upgrade sequences, run by the page on a pool thread.
    void upgradeProcess() { upgradeFile(binFilePath, UpgradeKind::SingleImage); }
    void upgradeProcess_tarel_sky(const QString &upgradeFirmwarePath)
    {
        upgradeFile(upgradeFirmwarePath, UpgradeKind::Package);
    }

signals:
    void sigUpgProg(int value);
    void sigUpgStart(bool);
    void logMessage(const QString &message);
    void sigUpgradeProcessHint(const QString &message, bool isHint = true);
    // The upgrade could not start (a package that cannot be split): nothing
    // was sent to the device. The message is translated and names the problem.
    void sigUpgradeNotStarted(const QString &message);
    // What the sequence is waiting for, with the seconds waited (translated);
    // an empty text when that wait is over.
    void sigUpgradeWaiting(const QString &status);
    // The file in upgrade no longer holds the bytes pinned when its upgrade
    // started: the upgrade ends and no end of file is sent for what changed.
    // Emitted on the sequence's thread, before the hint that says so.
    void fileChanged();
    // The step machine moved to `step` (-1: idle); emitted on the sequence's thread.
    void stepChanged(int step);
    // `sent` of the `total` bytes of the file or part in transfer have been
    // acknowledged; emitted on the sequence's thread after every segment.
    void fileBytesSent(qint64 sent, qint64 total);
    // The device reported the single image's upgrade done, or took a
    // package's last part: the one report of success, once per upgrade,
    // before any restart check. Emitted on the sequence's thread.
    void upgradeSucceeded();
    // The upgrade succeeded and the restarted device is being checked; then
    // what the check came to. Both emitted on the sequence's thread.
    void restartCheckStarted();
    void restartChecked(const RestartCheck::Result &result);

private slots:
    void onsendUpgradeProcess(ar_upgrade_status upgradestatus);
    void onsendSegLength(int length);
    void onUpgreBoot();
    void onUpgreceiveDateInfo(int status);

private:
    friend class DeviceRestart;
    friend class ImageSteps;
    friend class PackageSequence;
    friend class RestartCheck;

    // What a sequence waits for, as the user is told.
    enum class WaitKind { DeviceRestart, DeviceVerdict };
    // What pinning the file an upgrade is started with came to.
    enum class FilePin { Pinned, Refused, Unreadable };

    // Nothing of an earlier upgrade may decide this one: a status, verdict or
    // clock left from it would end a healthy upgrade at once.
    void clearUpgradeState();
    // What one file or part of an upgrade leaves behind.
    void clearFileState();
    // A new file or part starts: no status, resend or verdict of the last one.
    void startFile();
    void finishReset(int upgrade_finish);
    // Records the upgrade's success and reports it, once.
    void markSucceeded();
    // Ends an upgrade of `path` that succeeded with the restart check, when it is on.
    void checkRestartAfterSuccess(const QString &path);
    void endWithFailure(const QString &logText, const QString &hint);
    void endWithFileChanged();
    // Judges the file's type, then pins it (m_image), before the device is
    // touched; a refused type has been reported when this returns.
    FilePin pinUpgradeFile(const QString &path);
    // The upgrade could not start: nothing was sent.
    void reportNotStarted(const QString &viewText, const QString &hint);
    void reportWaiting(WaitKind kind, qint64 seconds);
    // Tells the user what the sequence waits for until the result goes.
    std::unique_ptr<WaitReport> waitReport(WaitKind kind);

    // Waits up to `programMs` until `ready` holds, the run flag is cleared, or
    // a reply wakes it; true when `ready` holds.
    bool waitFor(const std::function<bool()> &ready, int programMs);
    void wake();
    void pause(int programMs);

    std::atomic<int> upgStep{-1};
    std::atomic<bool> bRun{false};
    const std::function<bool()> m_running = [this] { return bRun.load(); }; // a request's run flag
    std::atomic<bool> bUpgReboot{false};
    quint64 allSendLen = 0;
    QFile *binFile = nullptr;
    PinnedImage m_image;     // the file or part in transfer, pinned before any of it was sent
    SentImage m_sentImage;   // what of it this transfer has sent
    QByteArray m_upgradeMd5; // of the file the upgrade was started with
    QString binFilePath;
    mutable QMutex m_statusMutex; // hands the status record between threads whole
    ar_upgrade_status upgrade_status{};
    std::atomic<int> m_segLength{DefaultSegmentLength};
    std::atomic<int> m_rebootFlag{0};
    std::atomic<int> m_receiveStatus{NoVerdict};
    UsbVirtualSerial *m_upgUsbVirtualSerial;

    std::shared_ptr<const UpgradeClock> m_clock;
    QMutex m_wakeMutex;
    QWaitCondition m_wakeUp;
    int m_resend = 0;                        // whole-file resends of this file or part
    std::atomic<bool> m_fileAccepted{false}; // the device accepted the file or part just sent
    std::atomic<bool> m_upgradeSucceeded{false}; // the device reported the whole upgrade done
    std::atomic<bool> m_checksRestart{false};
    StatusEvaluation m_status;
    SequenceLifecycle m_lifecycle;
};

#endif // UPGRADEPROCESS_H

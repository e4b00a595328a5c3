#ifndef UPGRADEPROCESS_H
#define UPGRADEPROCESS_H

#include "ARNetType.h"
#include "packagesplitter.h"
#include "upgradeclock.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>

class QFile;
class QThread;
class UsbVirtualSerial;
class WaitReport;

// The upgrade worker. It holds the state of the upgrade in progress, takes the
// device's replies from the link, and runs the upgrade sequences on the
// calling thread (a pool thread). It talks to the pages only through signals.
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
    static constexpr int ResponsePollMs = 100;
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

    void setRun(bool run);
    bool beRun() const { return bRun.load(); }
    void setResp(bool sta) { bResponse.store(sta); }
    bool beResp() const { return bResponse.load(); }
    int getUpgStep() const { return upgStep.load(); }
    void setUpgStep(int step) { upgStep.store(step); }
    void setBinFilePath(QString filePath, QString fileName);
    // Called before a sequence is handed to a pool thread: a reset that comes
    // before the sequence has started then cancels it instead of being lost.
    void expectSequence();
    bool isSequenceRunning() const { return m_sequenceRunning.load(); }
    // True when the last sequence was ended from outside (the page's disconnect).
    bool wasCancelled() const { return m_cancelled.load(); }
    ar_upgrade_status latestStatus() const;

    // Transfer primitives; they run on the sequence's thread and block it.
    int getSegmentLength() const;
    qint32 commandUpgSendRecv(unsigned int cmd, unsigned short type, unsigned short format,
                              char *date, unsigned int dataLenght);
    int commandSendWithFileRecv(unsigned int cmd, unsigned int type, unsigned int format, QFile *file,
                                unsigned int segmentLen, unsigned int imgType);
    int waitReceiveDateResponse();
    bool waitSerialResponse();
    void waitResponse();
    void upgReboot(const char *reboot_mode);
    void resetSendData();
    // Returns the worker to idle. Called while a sequence runs on another
    // thread, it ends the sequence and takes effect after the step in progress.
    void resetUpgradeParameters(int upgrade_finish);

    void upgCommandProcess(ar_upgrade_status *upgradestatus, int segLength);
    void upgCommandProcess_tarel_sky(ar_upgrade_status *upgradestatus, int segLength,
                                     const QString &upgradeFirmwarePath,
                                     const QString &upgradeFirmwareName, int upgradeFirmwareType,
                                     int upgradeSubFirmwareNum, int curSendUpgradeSubFirmwareNum);
    void recordUpgradeStatus(int status, int percent);

    // Multi-image packages: splitting into part files and naming their types.
    // Splits into `outputDir` (empty: the working directory); `error` says why a package was rejected.
    Q_INVOKABLE int upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths,
                                                const QString &outputDir = QString(),
                                                PackageSplitter::SplitError *error = nullptr);
    Q_INVOKABLE IMG_TYPE getImgTypeFromFileName(const QString &upgradeFirmwareName);
    // Where a package's parts are written while it is upgraded: a folder of
    // the program's own below this one, removed when the upgrade ends.
    static QString partsFolderTemplate();
    // Only the application part makes the device reboot into its upgrade state.
    static bool partReboots(int imgType) { return imgType == IMG_TAREL_APP; }
    // Evaluates one status report of the status phase; true when it ended the sequence.
    bool evaluateStatus(const ar_upgrade_status &report, bool *needReboot);

public slots:
    // The two upgrade sequences, run by the page on a pool thread.
    void upgradeProcess();
    void upgradeProcess_tarel_sky(const QString &upgradeFirmwarePath);

    // Control slots kept for a remote start; nothing in the program uses them yet.
    void onUpgStartCmd();
    void onUpgSockConn();
    void onConnect();
    void upgradeStart();
    void onUpgCommand(int command, char *data, int len);

signals:
    void sig_PktParsed(int cmd, char *data, int len);
    void sigUpgProg(int value);
    void sigMessage(int type, int value, QString msg);
    void sigUpgStart(bool);
    void onTimerTrig();
    void logMessage(const QString &message);
    void sigUpgradeProcessHint(const QString &message, bool isHint = true);
    // The upgrade could not start (a package that cannot be split): nothing
    // was sent to the device. The message is translated and names the problem.
    void sigUpgradeNotStarted(const QString &message);
    // What the sequence is waiting for, with the seconds waited (translated);
    // an empty text when that wait is over.
    void sigUpgradeWaiting(const QString &status);

private slots:
    void onsendUpgradeProcess(ar_upgrade_status upgradestatus);
    void onsendSegLength(int length);
    void onUpgreBoot();
    void onUpgreceiveDateInfo(int status);

private:
    // What a file-end verdict leads to.
    enum class Verdict { Accepted, Resend, Failed };
    // What a sequence waits for, as the user is told.
    enum class WaitKind { DeviceRestart, DeviceVerdict };

    // Sequence helpers shared by both sequences.
    bool beginSequence();
    // Sets the run flag again for the next part, unless the package was cancelled.
    bool resumeRun();
    void clearUpgradeState();
    void clearFileState();
    void endSequence(int upgrade_finish, bool reset);
    bool openImageFile(const QString &path);
    bool reopenImageFile();
    bool requestReboot(const char *mode);
    bool rebootIntoUpgradeState();
    bool reconnectAfterReboot();
    void sendAnnouncement(ar_file_info *fileinfo, const QString &targetName, const QString &localPath);
    bool sendSegment(qint64 segmentLength, int imgType);
    void sendFirstSegment(int segLength, int imgType);
    double sendNextSegment(int segLength, int imgType);
    Verdict endFileAndActOnVerdict(int progressBeforeVerdict);
    void endWithFailure(const QString &logText, const QString &hint);
    void endWithTransferFailure();
    bool checkSegmentLength();
    void reportSplitFailure(PackageSplitter::SplitError error);
    void reportWaiting(WaitKind kind, qint64 seconds);
    // Tells the user what the sequence waits for until the result goes.
    std::unique_ptr<WaitReport> waitReport(WaitKind kind);
    void reportNegativeStatusOnce(int status, int percent);
    void runSteps(const std::function<void()> &step);
    void finishReset(int upgrade_finish);

    // Waits up to `programMs` until `ready` holds, the run flag is cleared, or
    // a reply wakes it; true when `ready` holds.
    bool waitFor(const std::function<bool()> &ready, int programMs);
    void wake();
    void pause(int programMs);

    std::atomic<int> upgStep{-1};
    std::atomic<bool> bRun{false};
    std::atomic<bool> bResponse{false};
    std::atomic<bool> bUpgReboot{false};
    quint64 allSendLen = 0;
    QFile *binFile = nullptr;
    QString binFilePath;
    QString binFileName;
    mutable QMutex m_statusMutex; // hands the status record between threads whole
    ar_upgrade_status upgrade_status{};
    std::atomic<int> reConnStat{0};
    std::atomic<int> m_segLength{DefaultSegmentLength};
    std::atomic<int> m_rebootFlag{0};
    std::atomic<int> m_receiveStatus{NoVerdict};
    UsbVirtualSerial *m_upgUsbVirtualSerial;
    int m_lastStatus = -1;
    int m_lastPercent = -1;
    QDateTime m_lastStatusTime;

    std::shared_ptr<const UpgradeClock> m_clock;
    QMutex m_wakeMutex;
    QWaitCondition m_wakeUp;
    int m_resend = 0;                          // whole-file resends of this file or part
    std::atomic<bool> m_fileAccepted{false};   // the device accepted the file or part just sent
    QMutex m_lifecycleMutex;                   // orders a sequence's end against an outside reset
    std::atomic<bool> m_sequenceRunning{false};
    std::atomic<bool> m_sequenceExpected{false}; // handed to the pool, not yet started
    std::atomic<bool> m_negativeReported{false}; // a device failure is reported once
    std::atomic<QThread *> m_sequenceThread{nullptr};
    std::atomic<bool> m_cancelled{false};      // a reset from outside ended the sequence
    std::atomic<int> m_pendingFinish{0};
};

#endif // UPGRADEPROCESS_H

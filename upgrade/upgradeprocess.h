#ifndef UPGRADEPROCESS_H
#define UPGRADEPROCESS_H

#include "ARNetType.h"
#include "pinnedimage.h"
#include "replymailbox.h"
#include "sequencelifecycle.h"
#include "upgradechannel.h"
#include "upgradeclock.h"
#include "imagelocation.h"
#include "upgradeoutcome.h"
#include "upgradereport.h"

#include <QObject>
#include <atomic>
#include <memory>
#include <optional>

class DeviceLink;

// What an upgrade sends: one image file, or a multi-image package.
enum class UpgradeKind { SingleImage, Package };

// The upgrade worker: runs one upgrade at a time on the calling thread (a
// pool thread), from pinning its file to its outcome, and tells the pages
// what happens through signals. The parts do the work: the reply mailbox
// takes the device's replies on the link's thread, the channel makes the
// exchanges, the step machine (ImageSteps) sends a file, PackageSequence a
// package, RestartCheck checks the restarted device. Each upgrade ends in
// one outcome, emitted once.
class UpgradeProcess : public QObject, private UpgradeReport
{
    Q_OBJECT

public:
    explicit UpgradeProcess(DeviceLink *link,
                            std::shared_ptr<const UpgradeClock> clock = std::make_shared<SystemClock>(),
                            QObject *parent = nullptr);
    ~UpgradeProcess() override;

    // Upgrades the image at `location` (an archive's entry is extracted for
    // the upgrade's length); the one way a file is handed to the worker.
    // Returns the outcome, emitted as finished() before.
    UpgradeOutcome upgradeFile(const ImageLocation &location, UpgradeKind kind);
    // With the check on, a successful upgrade goes on to check the restarted
    // device (RestartCheck) before its outcome is decided.
    void setChecksRestart(bool check) { m_checksRestart.store(check); }

    bool beRun() const { return m_mailbox.running(); }
    int getUpgStep() const { return m_step.load(); }
    // The image that upgradeProcess() sends.
    void setBinFilePath(const QString &filePath) { binFilePath = filePath; }
    // Called before a sequence is handed to a pool thread: a reset that comes
    // before the sequence has started then cancels it instead of being lost.
    void expectSequence()
    {
        m_timedOut.store(false);
        m_lifecycle.expect();
    }
    bool isSequenceRunning() const { return m_lifecycle.isRunning(); }
    // After a sequence has returned: the MD5 of the file it was started with,
    // as pinned before anything was sent, which is all that can have been
    // sent; empty when the file was never pinned.
    QByteArray upgradeFileMd5() const;
    // Returns the worker to idle. Called while a sequence runs on another
    // thread, it ends the sequence and takes effect after the step in progress.
    void resetUpgradeParameters(int upgrade_finish) { m_lifecycle.reset(upgrade_finish); }
    // Ends the sequence as resetUpgradeParameters() does, because the time it
    // was given ran out: its outcome says so instead of "cancelled".
    void timeOut()
    {
        m_timedOut.store(true);
        resetUpgradeParameters(1);
    }

public slots:
    // The two upgrade sequences, run on a pool thread.
    void upgradeProcess() { upgradeFile(binFilePath, UpgradeKind::SingleImage); }
    void upgradeProcess_tarel_sky(const QString &upgradeFirmwarePath)
    {
        upgradeFile(upgradeFirmwarePath, UpgradeKind::Package);
    }

signals:
    void sigUpgProg(int value);
    void logMessage(const QString &message);
    // What the sequence is waiting for, every second while it waits; a
    // wait that is over when it ends. Emitted on the sequence's thread or
    // the wait's own.
    void sigUpgradeWaiting(const UpgradeWait &wait);
    // The step machine moved to `step` (-1: idle); emitted on the sequence's thread.
    void stepChanged(int step);
    // `sent` of the `total` bytes of the file or part in transfer have been
    // acknowledged; emitted on the sequence's thread after every segment.
    void fileBytesSent(qint64 sent, qint64 total);
    // The device reported the single image's upgrade done, or took a
    // package's last part, before any restart check: the page shows the
    // success at once. Emitted on the sequence's thread.
    void upgradeSucceeded();
    // The upgrade succeeded and the restarted device is being checked.
    void restartCheckStarted();
    // How the upgrade ended: once per upgrade, on the sequence's thread.
    void finished(const UpgradeOutcome &outcome);

private:
    // The pinned file, or the outcome of one that cannot be upgraded.
    std::optional<UpgradeOutcome> pinUpgradeFile(const QString &path, UpgradeKind kind, PinnedImage *image);
    UpgradeOutcome runSequence(const ImageLocation &location, UpgradeKind kind);
    UpgradeOutcome sendImage(const PinnedImage &image);
    // Ends an upgrade of `path` that succeeded with the restart check, when it is on.
    void checkRestart(const QString &path, UpgradeOutcome *outcome);
    UpgradeOutcome notStarted(const QString &viewText, const QString &hint);
    // Cancelled by the user, or timed out.
    UpgradeOutcome endedFromOutside() const
    {
        return m_timedOut.load() ? UpgradeOutcome::timedOut() : UpgradeOutcome::cancelled();
    }
    void finishReset(int upgrade_finish);

    // What a sequence tells the user: passed on as signals.
    void progress(int percent) override { emit sigUpgProg(percent); }
    void logText(const QString &text) override { emit logMessage(text); }
    void waiting(const UpgradeWait &wait) override { emit sigUpgradeWaiting(wait); }
    void enteredStep(int step) override;
    void bytesSent(qint64 sent, qint64 total) override { emit fileBytesSent(sent, total); }

    DeviceLink &m_link;
    ReplyMailbox m_mailbox;
    UpgradeChannel m_channel;
    SequenceLifecycle m_lifecycle;
    QString binFilePath;
    std::atomic<int> m_step{-1};
    std::atomic<bool> m_checksRestart{false};
    std::atomic<bool> m_timedOut{false}; // the sequence expected or running was ended by its time limit
    mutable QMutex m_md5Mutex;
    QByteArray m_upgradeMd5; // of the file the upgrade was started with
};

#endif // UPGRADEPROCESS_H

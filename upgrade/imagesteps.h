#ifndef IMAGESTEPS_H
#define IMAGESTEPS_H

#include "ARNetType.h"
#include "datatransfer.h"
#include "devicerestart.h"
#include "imageplan.h"
#include "pinnedimage.h"
#include "statusevaluation.h"

#include <QFile>
#include <memory>
#include <optional>

class ReplyMailbox;
class UpgradeChannel;
class UpgradeReport;

// The step machine that sends one file, a single image or a package part, as
// its plan says: reboot the device into its upgrade state, announce the file,
// send its segments, end it and act on the device's verdict, then follow the
// device's status (a single image) or finish the part. It owns the state of
// its file, pinned before the upgrade touched the device.
class ImageSteps
{
public:
    static constexpr int StepPauseMs = 10;
    static constexpr int StatusPauseMs = 500;
    static constexpr int MaxResends = 5;
    // How long a device whose port went in its upgrade is waited for.
    static constexpr int DisconnectLimitMs = StatusEvaluation::STATUS_TIMEOUT * 1000;

    ImageSteps(UpgradeChannel &channel, UpgradeReport &report, ImagePlan plan, PinnedImage image);

    // Performs steps until the run flag is cleared. Succeeded: the device took
    // the part, or reported the single image's upgrade done; none: the
    // sequence was ended from outside.
    std::optional<UpgradeOutcome> run();
    // Performs the step the step register names.
    void step(const ar_upgrade_status &status, int segLength);

    // Tells the user the file changed under the upgrade: the outcome that gives.
    static UpgradeOutcome reportFileChanged(UpgradeReport &report);

private:
    // What a file-end verdict leads to.
    enum class Verdict { Accepted, Resend, Failed };

    void start();
    void reboot();
    void announce();
    void sendFirstSegment(int segLength);
    void sendNextSegment();
    void endFile();
    void followStatus(const ar_upgrade_status &status);
    void awaitReturn();
    void finishPart();

    void setStep(int step);
    // Ends the sequence with `outcome`; the first one decided stays.
    void end(const UpgradeOutcome &outcome);
    void endWithFailure(UpgradeOutcome::Kind kind, const char *logText, const QString &hint);
    void endWithFileChanged();
    void endWithTransferFailure(UpgradeOutcome::Kind kind = UpgradeOutcome::Kind::TransferFailed);
    bool checkSegmentLength();
    bool openImageFile();
    bool reopenImageFile();
    void logAnnouncement(const ar_file_info &fileinfo);
    bool sendSegment();
    Verdict endFileAndActOnVerdict();

    UpgradeChannel &m_channel;
    ReplyMailbox &m_mailbox;
    UpgradeReport &m_report;
    DeviceRestart m_restart;
    StatusEvaluation m_status;
    const ImagePlan m_plan;
    const PinnedImage m_image; // the file as pinned: nothing else is sent
    SentImage m_sentImage;     // what of it this transfer has sent
    QFile m_file;
    std::unique_ptr<DataTransfer> m_transfer; // in the data phase
    qint64 m_sentBytes = 0;
    int m_step = -1;
    bool m_rebooted = false;
    int m_resend = 0;
    std::optional<UpgradeOutcome> m_outcome;
};

#endif // IMAGESTEPS_H

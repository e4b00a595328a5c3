#ifndef IMAGESTEPS_H
#define IMAGESTEPS_H

#include "ARNetType.h"
#include "devicerestart.h"
#include "imageplan.h"

#include <QString>

class UpgradeProcess;

// The step machine that sends one file, a single image or a package part, as
// its plan says: reboot the device into its upgrade state, announce the file,
// send its segments, end it and act on the device's verdict, then follow the
// device's status (a single image) or finish the part. The step register and
// the state of the file live in the worker.
class ImageSteps
{
public:
    ImageSteps(UpgradeProcess &worker, ImagePlan plan);

    // Performs steps until the run flag is cleared.
    void run();
    // Performs the step the step register names.
    void step(const ar_upgrade_status &status, int segLength);

private:
    // What a file-end verdict leads to.
    enum class Verdict { Accepted, Resend, Failed };

    void start();
    void reboot();
    void announce();
    void sendFirstSegment(int segLength);
    void sendNextSegment(int segLength);
    void endFile();
    void followStatus(const ar_upgrade_status &status);
    void finishPart();

    bool checkSegmentLength();
    bool openImageFile();
    bool reopenImageFile();
    void logAnnouncement(const ar_file_info &fileinfo);
    bool sendSegment(qint64 segmentLength);
    Verdict endFileAndActOnVerdict();
    void endWithTransferFailure();

    UpgradeProcess &m_worker;
    DeviceRestart m_restart;
    const ImagePlan m_plan;
};

#endif // IMAGESTEPS_H

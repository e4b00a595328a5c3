#ifndef PACKAGESEQUENCE_H
#define PACKAGESEQUENCE_H

#include "packagesplitter.h"
#include "pinnedimage.h"
#include "temporaryfolders.h"
#include "upgradeoutcome.h"

#include <QString>
#include <functional>
#include <optional>

class SequenceLifecycle;
class UpgradeChannel;
class UpgradeReport;
struct ImagePlan;

// The upgrade from a multi-image package: the package, pinned, is split into
// part files in a folder of the program's own, and the parts are sent one
// after the other, the last one of the package first, each by the step
// machine. A part that fails ends the package.
class PackageSequence
{
public:
    // Returns the worker to idle after a part (`upgradeFinish` 1: the package ends).
    using PartReset = std::function<void(int upgradeFinish)>;

    PackageSequence(UpgradeChannel &channel, UpgradeReport &report, SequenceLifecycle &lifecycle,
                    PartReset resetAfterPart);

    UpgradeOutcome run(const PinnedImage &package);

    // The outcome of a package that cannot be used (the user told why): nothing was sent.
    static UpgradeOutcome splitFailure(PackageSplitter::SplitError error, UpgradeReport &report);

private:
    // Splits the pinned package into `folder`: the parts sent are the pinned
    // package's. An outcome when nothing is to be sent.
    std::optional<UpgradeOutcome> split(const PinnedImage &package, const TemporaryFolders::Folder &folder,
                                        QStringList *parts);
    // The part's outcome; none when the package was ended from outside.
    std::optional<UpgradeOutcome> sendPart(const ImagePlan &plan);

    UpgradeChannel &m_channel;
    UpgradeReport &m_report;
    SequenceLifecycle &m_lifecycle;
    PartReset m_resetAfterPart;
};

#endif // PACKAGESEQUENCE_H

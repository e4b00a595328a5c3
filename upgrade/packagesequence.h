#ifndef PACKAGESEQUENCE_H
#define PACKAGESEQUENCE_H

#include "packagesplitter.h"

#include <QString>

class QTemporaryDir;
struct ImagePlan;

class UpgradeProcess;

// The upgrade from a multi-image package: the package is pinned and split
// into part files in a folder of the program's own, and the parts are sent
// one after the other, the last one of the package first, each by the step
// machine. A part that fails ends the package.
class PackageSequence
{
public:
    explicit PackageSequence(UpgradeProcess &worker) : m_worker(worker) {}

    void run(const QString &packagePath);

    // Where a package's parts are written while it is upgraded: a folder of
    // the program's own below this one, removed when the upgrade ends.
    static QString partsFolderTemplate();

private:
    // Pins the package, then splits it into `folder`: the parts sent are the
    // pinned package's. False, the user told why, when nothing is to be sent.
    bool splitPinnedPackage(const QString &packagePath, const QTemporaryDir &folder, QStringList *parts);
    // True when the part was accepted and nothing ended the package.
    bool sendPart(const ImagePlan &plan);
    void reportSplitFailure(PackageSplitter::SplitError error);

    UpgradeProcess &m_worker;
};

#endif // PACKAGESEQUENCE_H

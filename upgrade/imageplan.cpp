#include "imageplan.h"

#include "ARNetType.h"
#include "packagesplitter.h"

namespace {
constexpr int SingleImageSaveAs = 1;
constexpr int SingleImageDataType = IMG_UNKNOWN; // the ordinary acknowledgement wait
constexpr int PartDataImageType = IMG_TAREL_8333_SENSOR; // every part waits 10 s per acknowledgement
// A single image moves the bar from 5 to 15; the device's own percentage follows.
constexpr int ProgressTransferStart = 5;
constexpr int ProgressTransferSpan = 10;
constexpr int ProgressTransferEnd = 15;
// The parts of a package share the whole bar.
constexpr int FullBar = 100;
} // namespace

QString ImagePlan::fileNameOf(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

ImagePlan ImagePlan::singleImage(const QString &path)
{
    ImagePlan plan;
    plan.kind = Kind::SingleImage;
    plan.path = path;
    plan.announcedName = fileNameOf(path);
    plan.saveAs = SingleImageSaveAs;
    plan.dataImageType = SingleImageDataType;
    plan.barAfterReboot = ProgressTransferStart;
    plan.barAtFileEnd = ProgressTransferEnd;
    return plan;
}

ImagePlan ImagePlan::packagePart(const QString &path, int part, int partCount)
{
    ImagePlan plan;
    plan.kind = Kind::PackagePart;
    plan.path = path;
    plan.announcedName = fileNameOf(path);
    plan.saveAs = PackageSplitter::getImgTypeFromFileName(plan.announcedName);
    plan.dataImageType = PartDataImageType;
    plan.reboots = plan.saveAs == IMG_TAREL_APP; // only the application part reboots the device
    plan.part = part;
    plan.partCount = partCount;
    // 100 only once the last part is accepted, never for a part that failed.
    plan.barWhenAccepted = plan.lastPart() ? FullBar : NoBar;
    return plan;
}

double ImagePlan::transferBar(double filePercent) const
{
    if (isPart())
        return (FullBar / partCount) * part + filePercent / partCount;
    return filePercent / 100 * ProgressTransferSpan + ProgressTransferStart;
}

#include "transfermemory.h"

#include "benchsupport.h"
#include "transferrun.h"
#include "transferupgrade.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace Bench {

namespace {
const QString SimulatorName = QStringLiteral("tavio-device-sim");
constexpr int MemoryRunSegmentLength = 65536;
constexpr int SimulatorStartLimitMs = 5000;
constexpr int SimulatorPollMs = 10;
constexpr int MemoryRunLimitMs = 600000;
const QString PeakKey = QStringLiteral("peak-kib");
const QString DeliveredKey = QStringLiteral("delivered");

// Target: the large image's peak stays this close to the small one's.
constexpr qint64 KibPerMib = 1024;
constexpr qint64 MaxPeakGrowthKib = 1 * KibPerMib;

struct MemoryResult
{
    qint64 imageMiB = 0;
    qint64 programPeakKib = -1;
    qint64 simulatorPeakKib = -1;
    bool delivered = false;
};

bool waitForPath(const QString &path, int limitMs)
{
    for (int waited = 0; waited < limitMs; waited += SimulatorPollMs) {
        if (QFileInfo::exists(path))
            return true;
        QThread::msleep(SimulatorPollMs);
    }
    return false;
}

// The parent's side: a fresh simulator process and a fresh child for one image.
MemoryResult measureMemory(const QString &imagePath, qint64 imageMiB, const QDir &dir)
{
    MemoryResult result;
    result.imageMiB = imageMiB;
    const QString linkPath = dir.filePath(QStringLiteral("device-%1").arg(imageMiB));
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(QDir(QCoreApplication::applicationDirPath()).filePath(SimulatorName),
                    {QStringLiteral("--link"), linkPath, QStringLiteral("--vid"),
                     QString::number(DeviceIdentity().vendorId), QStringLiteral("--max-size"),
                     QString::number(MemoryRunSegmentLength), QStringLiteral("--reboot-delay"),
                     QString::number(SimulatedLink::RebootDelayMs)});
    if (!simulator.waitForStarted() || !waitForPath(linkPath, SimulatorStartLimitMs)) {
        printError(QStringLiteral("cannot start %1").arg(SimulatorName));
        return result;
    }

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--") + MemoryRunOption, imagePath,
                 QStringLiteral("--") + LinkOption, linkPath});
    if (!child.waitForFinished(MemoryRunLimitMs))
        child.kill();
    const QStringList words = QString::fromLocal8Bit(child.readAllStandardOutput()).simplified().split(' ');
    const int peakAt = words.indexOf(PeakKey);
    const int deliveredAt = words.indexOf(DeliveredKey);
    if (peakAt >= 0 && deliveredAt >= 0) {
        result.programPeakKib = words.value(peakAt + 1).toLongLong();
        result.delivered = words.value(deliveredAt + 1) == QLatin1String("1");
    }

    result.simulatorPeakKib = peakResidentKib(simulator.processId());
    simulator.terminate();
    if (!simulator.waitForFinished())
        simulator.kill();
    return result;
}
} // namespace

int memoryRun(const QString &imagePath, const QString &linkPath)
{
    const quint16 vid = DeviceIdentity().vendorId;
    std::unique_ptr<UsbVirtualSerial> link = makeLink(linkPath, vid);
    const bool delivered = connectLink(*link) && runUpgrade(*link, imagePath, vid);
    link.reset();
    printLine(QStringLiteral("%1 %2 %3 %4")
                  .arg(PeakKey)
                  .arg(peakResidentKib())
                  .arg(DeliveredKey)
                  .arg(int(delivered)));
    return delivered ? 0 : ExitFailure;
}

bool reportMemory(const QDir &dir)
{
    printLine(QString());
    printLine(QStringLiteral("Peak resident memory (VmHWM) of one upgrade, each in a fresh process "
                             "(segment length %1; the device runs in %2, measured apart):")
                  .arg(MemoryRunSegmentLength)
                  .arg(SimulatorName));
    const Table table({{QStringLiteral("image MiB"), 9},
                       {QStringLiteral("program KiB"), 11},
                       {QStringLiteral("simulator KiB"), 13},
                       {QStringLiteral("delivered"), 9}});
    table.printHeader();
    QList<MemoryResult> results;
    for (qint64 mib : {ImageMiB, LargeImageMiB}) {
        const QString imagePath = dir.filePath(QStringLiteral("memory-%1.img").arg(mib));
        QString error;
        if (!writeImage(imagePath, mib * MiB, &error)) {
            printError(QStringLiteral("cannot write the image: %1").arg(error));
            return false;
        }
        const MemoryResult r = measureMemory(imagePath, mib, dir);
        QFile::remove(imagePath);
        table.printRow({QString::number(r.imageMiB), QString::number(r.programPeakKib),
                        QString::number(r.simulatorPeakKib),
                        r.delivered ? QStringLiteral("yes") : QStringLiteral("NO")});
        results.append(r);
    }
    const MemoryResult &small = results.first();
    const MemoryResult &large = results.last();
    printLine(QString());
    const bool valid = small.delivered && large.delivered && small.programPeakKib > 0
        && large.programPeakKib > 0;
    if (!valid)
        printError(QStringLiteral("a memory run failed: its figures are not valid"));
    const qint64 growth = large.programPeakKib - small.programPeakKib;
    printVerdict(QStringLiteral("peak for %1 MiB within %2 KiB of the peak for %3 MiB "
                                "(grows by %4 KiB)")
                     .arg(LargeImageMiB)
                     .arg(MaxPeakGrowthKib)
                     .arg(ImageMiB)
                     .arg(growth),
                 valid && growth <= MaxPeakGrowthKib);
    return valid && growth <= MaxPeakGrowthKib;
}

} // namespace Bench

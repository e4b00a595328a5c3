// tavio-bench-transfer: the data phase of a whole upgrade through the
// simulated device against stop-and-wait over a bare pty pair at the same
// frame size, directly and through one thread hand-over each way, measured in
// the same run; then the peak memory of upgrades of a small and a large
// image, each in a fresh process of its own.

#include "barepty.h"
#include "benchsupport.h"
#include "protocolframe.h"
#include "upgradeclock.h"
#include "upgradeprocess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

using namespace Bench;

namespace {
// Fast enough that the reboot pauses are short, slow enough that an
// acknowledgement delayed by a busy machine does not time out (2 s become 200 ms).
constexpr int FastClockFactor = 10;
constexpr int DefaultRounds = 3;
constexpr int LogSinkRounds = 1;
constexpr qint64 ImageMiB = 16;
constexpr qint64 LargeImageMiB = 256;
constexpr double MillisecondsPerSecond = 1e3;
constexpr quint32 DataCommand = AR_CMD_SENDFILE_DATA;

// The segment length the device reports and the frame size the program cuts
// such a segment into.
struct TransferCase
{
    int segmentLength;
    int frameUnit;
};
const TransferCase Cases[] = {{1024, 1024}, {65536, 51200}};

// Targets.
constexpr double MinShareOfRaw = 0.5;
constexpr qint64 KibPerMib = 1024;
constexpr qint64 MaxPeakGrowthKib = 16 * KibPerMib;

// The memory runs: the program side in a child process of this executable,
// the device in the simulator executable.
const QString MemoryRunOption = QStringLiteral("memory-run");
const QString LinkOption = QStringLiteral("link");
const QString SimulatorName = QStringLiteral("tavio-device-sim");
constexpr int MemoryRunSegmentLength = 65536;
constexpr int SimulatorStartLimitMs = 5000;
constexpr int SimulatorPollMs = 10;
constexpr int MemoryRunLimitMs = 600000;
const QString PeakKey = QStringLiteral("peak-kib");
const QString DeliveredKey = QStringLiteral("delivered");

// Runs a whole single-image upgrade on this thread, on a fast clock; true
// when the device reported it done and nothing went wrong. The device's
// verdict on the file is its MD5 check against the announced one.
bool runUpgrade(UsbVirtualSerial &link, const QString &imagePath, quint16 vid)
{
    UpgradeProcess worker(&link, std::make_shared<ScaledClock>(FastClockFactor));
    if (!askIdentity(link))
        return false;
    link.setUpgradeTarget(vid);
    return worker.upgradeFile(imagePath, UpgradeKind::SingleImage).succeeded();
}

struct TransferResult
{
    int segmentLength = 0;
    int frameUnit = 0;
    qint64 rawFrames = 0;
    qint64 programFrames = 0;
    qint64 resent = 0;
    double rawMiBps = 0;
    double relayedMiBps = 0; // the raw exchange behind one thread hand-over
    double upgradeMiBps = 0;
    bool valid = false;
    bool delivered = true;
};

class TransferBench
{
public:
    explicit TransferBench(const QString &imagePath)
        : m_imagePath(imagePath)
        , m_imageBytes(QFileInfo(imagePath).size())
        , m_imageMd5(fileMd5(imagePath))
    {
    }

    TransferResult measure(const TransferCase &scenario, int rounds)
    {
        TransferResult result;
        result.segmentLength = scenario.segmentLength;
        result.frameUnit = scenario.frameUnit;
        BarePtyPair bare;
        QString error;
        if (!bare.start(&error)) {
            printError(QStringLiteral("bare pty pair: %1").arg(error));
            result.delivered = false;
            return result;
        }
        RelayedPtyPair relayed(&bare);
        const auto direct = [&bare](const QByteArray &frame) { return bare.roundTrip(frame); };
        const auto handedOver = [&relayed](const QByteArray &frame) { return relayed.roundTrip(frame); };
        const std::vector<double> medians = interleavedMedians(
            rounds,
            {[&] { return rawRound(direct, result.frameUnit, &result.rawFrames); },
             [&] { return rawRound(handedOver, result.frameUnit, &result.rawFrames); },
             [&] { return upgradeRound(scenario.segmentLength, &result); }},
            &result.valid);
        result.rawMiBps = medians[0];
        result.relayedMiBps = medians[1];
        result.upgradeMiBps = medians[2];
        return result;
    }

private:
    // Stop-and-wait of the image's bytes in frames of `unit` payload bytes.
    std::vector<double> rawRound(const std::function<bool(const QByteArray &)> &roundTrip, int unit,
                                 qint64 *frames)
    {
        const QByteArray full = ProtocolFrame::encode(DataCommand, AR_MSGTYPE_REQUEST, 0, 0,
                                                      QByteArray(unit, '\x5a'));
        const Clock::time_point start = Clock::now();
        *frames = 0;
        for (qint64 left = m_imageBytes; left > 0; left -= unit, ++*frames) {
            const QByteArray frame = left >= unit
                ? full
                : ProtocolFrame::encode(DataCommand, AR_MSGTYPE_REQUEST, 0, 0,
                                        QByteArray(int(left), '\x5a'));
            if (!roundTrip(frame))
                return {};
        }
        const double seconds = elapsedUs(start) / MicrosecondsPerSecond;
        return {double(m_imageBytes) / MiB / seconds};
    }

    std::vector<double> upgradeRound(int segmentLength, TransferResult *result)
    {
        DeviceIdentity identity;
        identity.receiveMaxSize = segmentLength;
        SimulatedLink sim(identity);
        QString error;
        if (!sim.start(&error)) {
            printError(QStringLiteral("simulated device: %1").arg(error));
            result->delivered = false;
            return {};
        }
        DataFrameClock clock;
        clock.watch(sim.device());
        const bool done = runUpgrade(sim.link(), m_imagePath, identity.vendorId);
        const bool identical = sim.received(m_imageMd5);
        if (!done || !identical) {
            printError(QStringLiteral("upgrade at segment length %1: %2")
                           .arg(segmentLength)
                           .arg(done ? QStringLiteral("the device received a different image")
                                     : QStringLiteral("the upgrade did not complete")));
            result->delivered = false;
            return {};
        }
        if (clock.largestFrame() != result->frameUnit) {
            printError(QStringLiteral("segment length %1 went out in frames of %2 bytes, not %3")
                           .arg(segmentLength)
                           .arg(clock.largestFrame())
                           .arg(result->frameUnit));
            result->delivered = false;
        }
        result->programFrames = clock.frames();
        result->resent += clock.resent();
        return {clock.mibPerSecond()};
    }

    QString m_imagePath;
    qint64 m_imageBytes;
    QByteArray m_imageMd5;
};

bool printTransferTable(const QString &title, const QList<TransferResult> &results)
{
    printLine(QString());
    printLine(title);
    const Table table({{QStringLiteral("segment"), 7},
                       {QStringLiteral("frame unit"), 10},
                       {QStringLiteral("raw frames"), 10},
                       {QStringLiteral("upgrade frames"), 14},
                       {QStringLiteral("resent"), 6},
                       {QStringLiteral("raw MiB/s"), 9},
                       {QStringLiteral("relayed MiB/s"), 13},
                       {QStringLiteral("upgrade MiB/s"), 13},
                       {QStringLiteral("upgrade/raw"), 11},
                       {QStringLiteral("upgrade/relayed"), 15},
                       {QStringLiteral("phase s"), 7}});
    table.printHeader();
    bool valid = true;
    for (const TransferResult &r : results) {
        valid = valid && r.delivered && r.valid;
        table.printRow({QString::number(r.segmentLength), QString::number(r.frameUnit),
                        QString::number(r.rawFrames), QString::number(r.programFrames),
                        QString::number(r.resent), fixed(r.rawMiBps, 2), fixed(r.relayedMiBps, 2),
                        fixed(r.upgradeMiBps, 2), fixed(r.upgradeMiBps / r.rawMiBps, 3),
                        fixed(r.upgradeMiBps / r.relayedMiBps, 3),
                        fixed(ImageMiB / r.upgradeMiBps, 2)});
    }
    return valid;
}

QList<TransferResult> measureAll(TransferBench &bench, int rounds, int segmentLength)
{
    QList<TransferResult> results;
    for (const TransferCase &scenario : Cases) {
        if (segmentLength == 0 || segmentLength == scenario.segmentLength)
            results.append(bench.measure(scenario, rounds));
    }
    return results;
}

// ---- memory ----------------------------------------------------------------------

struct MemoryResult
{
    qint64 imageMiB = 0;
    qint64 programPeakKib = -1;
    qint64 simulatorPeakKib = -1;
    bool delivered = false;
};

// The child's side: upgrades the image through the simulator at `linkPath`
// and prints its own peak resident size.
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
} // namespace

int main(int argc, char *argv[])
{
    dropLogMessages();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Throughput of an upgrade's data phase against stop-and-wait over a bare pty pair, and "
        "the peak memory of upgrades of a %1 MiB and a %2 MiB image.")
                                         .arg(ImageMiB)
                                         .arg(LargeImageMiB));
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Interleaved rounds (default %1).")
                                              .arg(DefaultRounds),
                                          QStringLiteral("n"), QString::number(DefaultRounds));
    const QCommandLineOption memoryRunOption(
        MemoryRunOption, QStringLiteral("Internal: upgrade <image> in this process and print its peak memory."),
        QStringLiteral("image"));
    const QCommandLineOption linkOption(LinkOption,
                                        QStringLiteral("Internal: the simulator's port for --memory-run."),
                                        QStringLiteral("path"));
    const QCommandLineOption segmentOption(
        QStringLiteral("segment"), QStringLiteral("Only the transfer case of this segment length."),
        QStringLiteral("length"), QStringLiteral("0"));
    const QCommandLineOption skipMemoryOption(QStringLiteral("skip-memory"),
                                              QStringLiteral("Leave out the memory runs."));
    parser.addOptions({roundsOption, memoryRunOption, linkOption, segmentOption, skipMemoryOption});
    parser.process(app);

    if (parser.isSet(memoryRunOption))
        return memoryRun(parser.value(memoryRunOption), parser.value(linkOption));

    const int rounds = qMax(1, parser.value(roundsOption).toInt());
    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("image.img"));
    QString error;
    if (!dir.isValid() || !writeImage(imagePath, ImageMiB * MiB, &error)) {
        printError(QStringLiteral("cannot write the image: %1").arg(error));
        return ExitFailure;
    }

    TransferBench bench(imagePath);
    printLine(QStringLiteral("Data phase of a %1 MiB upgrade (first to last data frame as the device "
                             "saw them), medians of %2 interleaved rounds. phase s: its length.")
                  .arg(ImageMiB)
                  .arg(rounds));
    const int segmentLength = parser.value(segmentOption).toInt();
    const QList<TransferResult> results = measureAll(bench, rounds, segmentLength);
    bool valid = printTransferTable(QStringLiteral("Log messages dropped:"), results);

    QList<TransferResult> logged;
    {
        ProgramLogSession session;
        if (session.isValid())
            logged = measureAll(bench, LogSinkRounds, segmentLength);
    }
    valid &= printTransferTable(
        QStringLiteral("With the program's log sink (log.txt, %1 round):").arg(LogSinkRounds), logged);

    printLine(QString());
    bool met = true;
    for (const TransferResult &r : results) {
        met &= printVerdict(QStringLiteral("upgrade reaches %1% of raw at frame unit %2 (%3%; the "
                                           "relayed floor itself reaches %4% of raw)")
                                .arg(MinShareOfRaw * 100)
                                .arg(r.frameUnit)
                                .arg(fixed(100 * r.upgradeMiBps / r.rawMiBps, 1))
                                .arg(fixed(100 * r.relayedMiBps / r.rawMiBps, 1)),
                            r.upgradeMiBps >= MinShareOfRaw * r.rawMiBps);
    }
    QFile::remove(imagePath);

    if (!parser.isSet(skipMemoryOption))
        met &= reportMemory(QDir(dir.path()));
    if (!valid)
        return ExitFailure;
    return met ? 0 : ExitMiss;
}

#include "transferrun.h"

#include "barepty.h"
#include "benchsupport.h"
#include "protocolframe.h"
#include "transferupgrade.h"

#include <QFileInfo>

namespace Bench {

namespace {
constexpr quint32 DataCommand = AR_CMD_SENDFILE_DATA;
const TransferCase Cases[] = {{1024, 1024}, {65536, 51200}};
} // namespace

TransferBench::TransferBench(const QString &imagePath)
    : m_imagePath(imagePath)
    , m_imageBytes(QFileInfo(imagePath).size())
    , m_imageMd5(fileMd5(imagePath))
{
}

TransferResult TransferBench::measure(const TransferCase &scenario, int rounds)
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

std::vector<double> TransferBench::rawRound(const std::function<bool(const QByteArray &)> &roundTrip,
                                            int unit, qint64 *frames)
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

std::vector<double> TransferBench::upgradeRound(int segmentLength, TransferResult *result)
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

QList<TransferResult> measureAll(TransferBench &bench, int rounds, int segmentLength)
{
    QList<TransferResult> results;
    for (const TransferCase &scenario : Cases) {
        if (segmentLength == 0 || segmentLength == scenario.segmentLength)
            results.append(bench.measure(scenario, rounds));
    }
    return results;
}

} // namespace Bench

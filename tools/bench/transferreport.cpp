#include "transferreport.h"

#include "benchsupport.h"

namespace Bench {

namespace {
// Target: the upgrade keeps at least this share of the raw throughput.
constexpr double MinShareOfRaw = 0.5;
} // namespace

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

bool printTransferVerdicts(const QList<TransferResult> &results)
{
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
    return met;
}

} // namespace Bench

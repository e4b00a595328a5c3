#ifndef TRANSFERRUN_H
#define TRANSFERRUN_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

namespace Bench {

// The image every transfer run sends.
constexpr qint64 ImageMiB = 16;

// The segment length the device reports and the frame size the program cuts
// such a segment into.
struct TransferCase
{
    int segmentLength;
    int frameUnit;
};

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

// One transfer case: the upgrade through the simulated device against the
// bare pty pair, directly and relayed, in interleaved rounds.
class TransferBench
{
public:
    explicit TransferBench(const QString &imagePath);

    TransferResult measure(const TransferCase &scenario, int rounds);

private:
    // Stop-and-wait of the image's bytes in frames of `unit` payload bytes.
    std::vector<double> rawRound(const std::function<bool(const QByteArray &)> &roundTrip, int unit,
                                 qint64 *frames);
    std::vector<double> upgradeRound(int segmentLength, TransferResult *result);

    QString m_imagePath;
    qint64 m_imageBytes;
    QByteArray m_imageMd5;
};

// Every transfer case, or only the one of `segmentLength` when it is not 0.
QList<TransferResult> measureAll(TransferBench &bench, int rounds, int segmentLength);

} // namespace Bench

#endif // TRANSFERRUN_H

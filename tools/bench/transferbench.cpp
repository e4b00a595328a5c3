// tavio-bench-transfer: the data phase of a whole upgrade through the
// simulated device against stop-and-wait over a bare pty pair at the same
// frame size, directly and through one thread hand-over each way, measured in
// the same run; then the peak memory of upgrades of a small and a large
// image, each in a fresh process of its own.

#include "benchsupport.h"
#include "transfermemory.h"
#include "transferreport.h"
#include "transferrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

using namespace Bench;

namespace {
constexpr int DefaultRounds = 3;
constexpr int LogSinkRounds = 1;
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
    bool met = printTransferVerdicts(results);
    QFile::remove(imagePath);

    if (!parser.isSet(skipMemoryOption))
        met &= reportMemory(QDir(dir.path()));
    if (!valid)
        return ExitFailure;
    return met ? 0 : ExitMiss;
}

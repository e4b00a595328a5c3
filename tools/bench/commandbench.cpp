// tavio-bench-command: a whole upgrade by the headless command against the
// same upgrade through the window's page, in one process, rounds alternating,
// each against a fresh simulated device with the same image and on the same
// clock.

#include "benchsupport.h"
#include "devicejob.h"
#include "flashrun.h"
#include "messageboxes.h"
#include "upgradepage.h"
#include "upgradeprocess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

using namespace Bench;

namespace {
constexpr int DefaultRounds = 5;
// As the transfer benchmark: the pauses are short, the answers keep their time.
constexpr int DefaultClockFactor = 10;
constexpr qint64 ImageMiB = 4;
constexpr int SegmentLength = 1024;
constexpr int UpgradeLimitMs = 300000;
constexpr double MaxRatio = 1.05; // target: command/window
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img"); // newer than the simulator's
// The page's note on success; no catalogue is loaded, so it stays the source text.
const QString SuccessNote = QStringLiteral("升级完成！");

// One round's device, fresh, and its data frames' clock (which outlives it).
struct RoundDevice
{
    static DeviceIdentity identity()
    {
        DeviceIdentity identity;
        identity.receiveMaxSize = SegmentLength;
        return identity;
    }
    bool start()
    {
        QString error;
        if (!device.startDevice(&error)) {
            printError(QStringLiteral("simulated device: %1").arg(error));
            return false;
        }
        clock.watch(device.device());
        return true;
    }
    QString path() const { return device.device().linkPath(); }
    quint16 vid() const { return device.device().identity().vendorId; }

    DataFrameClock clock;
    SimulatedLink device{identity()};
};

// What one side measured, round by round.
struct SideFigures
{
    std::vector<double> seconds;
    std::vector<double> dataMiBps; // the data phase, as the device saw it
    qint64 resent = 0;
};

class CommandBench
{
public:
    CommandBench(const QString &imagePath, int clockFactor)
        : m_imagePath(imagePath)
        , m_imageMd5(fileMd5(imagePath))
        , m_clockFactor(clockFactor)
    {
        // A box would wait for a user: note it, and the round fails.
        MessageBoxes::setHandler([this](MessageBoxes::Kind, const QString &, const QString &text) {
            m_box = text;
            return QMessageBox::Ok;
        });
    }

    // `tavio-flash upgrade FILE --port P --vid V`, as its main runs it.
    std::vector<double> commandRound()
    {
        RoundDevice round;
        if (!round.start())
            return {};
        const FlashOutcome run = runFlashUpgrade(m_imagePath, round.path(), round.vid(), m_clockFactor);
        return outcome(round, run.succeeded, run.seconds, run.errors, &m_command);
    }

    // The page as the user drives it: Connect, choose the file, Upgrade,
    // until the note says it is done.
    std::vector<double> windowRound()
    {
        RoundDevice round;
        if (!round.start())
            return {};
        const std::unique_ptr<UsbVirtualSerial> link = makeLink(round.path(), round.vid());
        UpgradePage page(nullptr, link.get(), nullptr, DeviceJob::clockFor(m_clockFactor));
        page.enterDeviceConnNotePage();
        page.setFileChooser([this] { return m_imagePath; });
        const QLabel *note = page.findChild<QLabel *>(QStringLiteral("lbNote"));
        QEventLoop loop;
        // Queued after the page's own handling of the same report.
        QObject::connect(&page, &UpgradePage::connectAnswered, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        // The device's success ends the round (the restart check may begin to
        // add to the note); a failure ends it too.
        QObject::connect(page.worker(), &UpgradeProcess::upgradeSucceeded, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        QObject::connect(page.worker(), &UpgradeProcess::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QTimer::singleShot(UpgradeLimitMs, &loop, &QEventLoop::quit);
        m_box.clear();

        const Clock::time_point start = Clock::now();
        page.handleDeviceDetected(round.vid());
        page.findChild<QToolButton *>(QStringLiteral("btnConnDevice"))->click();
        loop.exec(); // the device's answer
        for (const char *button : {"btnSelectBinFile", "btnUpgrade"})
            page.findChild<QToolButton *>(QLatin1String(button))->click();
        if (m_box.isEmpty() && page.getUpgradeFlag())
            loop.exec();
        const double seconds = elapsedUs(start) / MicrosecondsPerSecond;
        return outcome(round, note->text().startsWith(SuccessNote), seconds, m_box.isEmpty() ? note->text() : m_box,
                       &m_window);
    }

    const SideFigures &command() const { return m_command; }
    const SideFigures &window() const { return m_window; }

private:
    std::vector<double> outcome(const RoundDevice &round, bool succeeded, double seconds, const QString &told,
                                SideFigures *side) const
    {
        if (!succeeded || !round.device.received(m_imageMd5)) {
            printError(QStringLiteral("%1: the upgrade did not deliver the image (%2)")
                           .arg(side == &m_command ? QStringLiteral("command") : QStringLiteral("window"), told));
            return {};
        }
        side->seconds.push_back(seconds);
        side->dataMiBps.push_back(round.clock.mibPerSecond());
        side->resent += round.clock.resent();
        return {seconds};
    }

    QString m_imagePath;
    QByteArray m_imageMd5;
    int m_clockFactor;
    QString m_box; // the text of a box the page showed in this round
    SideFigures m_command;
    SideFigures m_window;
};

void printSide(const Table &table, const QString &name, const SideFigures &side)
{
    table.printRow({name, fixed(median(side.seconds), 3), fixed(median(side.dataMiBps), 2),
                    QString::number(side.resent)});
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    dropLogMessages();
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A whole upgrade of a %1 MiB image by tavio-flash against the same upgrade through the window's "
        "upgrade page, each round against a fresh simulated device.").arg(ImageMiB));
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Interleaved rounds (default %1).").arg(DefaultRounds),
                                          QStringLiteral("n"), QString::number(DefaultRounds));
    const QCommandLineOption clockOption(QStringLiteral("clock-factor"),
                                         QStringLiteral("How much faster than real time both sides' clock "
                                                        "runs (default %1; 1: real time).")
                                             .arg(DefaultClockFactor),
                                         QStringLiteral("n"), QString::number(DefaultClockFactor));
    parser.addOptions({roundsOption, clockOption});
    parser.process(app);
    const int rounds = qMax(1, parser.value(roundsOption).toInt());
    const int clockFactor = qMax(1, parser.value(clockOption).toInt());

    // The working folder holds what the page reads and writes (settings, part files).
    QTemporaryDir dir;
    const QString imagePath = dir.filePath(ImageName);
    QString error;
    if (!dir.isValid() || !writeImage(imagePath, ImageMiB * MiB, &error) || !QDir::setCurrent(dir.path())) {
        printError(QStringLiteral("cannot write the image: %1").arg(error));
        return ExitFailure;
    }

    CommandBench bench(imagePath, clockFactor);
    const Medians medians = compareInterleaved(rounds, [&] { return bench.windowRound(); },
                                               [&] { return bench.commandRound(); });
    printLine(QStringLiteral("Whole upgrade of a %1 MiB image (segment length %2), clock %3x, medians of %4 "
                             "interleaved rounds, each against a fresh simulated device:")
                  .arg(ImageMiB)
                  .arg(SegmentLength)
                  .arg(clockFactor)
                  .arg(rounds));
    const Table table({{QStringLiteral("side"), 7},
                       {QStringLiteral("upgrade s"), 9},
                       {QStringLiteral("data phase MiB/s"), 16},
                       {QStringLiteral("resent"), 6}});
    table.printHeader();
    printSide(table, QStringLiteral("window"), bench.window());
    printSide(table, QStringLiteral("command"), bench.command());
    const double ratio = medians.reference > 0 ? medians.subject / medians.reference : 0;
    printLine(QStringLiteral("command/window: %1").arg(fixed(ratio, 3)));
    printLine(QString());
    const bool met = printVerdict(QStringLiteral("the command takes at most %1x the window's time (%2x)")
                                      .arg(fixed(MaxRatio, 2), fixed(ratio, 3)),
                                  medians.valid && ratio <= MaxRatio);
    if (!medians.valid)
        return ExitFailure;
    return met ? 0 : ExitMiss;
}

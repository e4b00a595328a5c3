// tavio-bench-wire: whole upgrades by tavio-flash's library through the
// simulator's model of a USB link, at full and at high speed. The data phase,
// as the device saw it, is held against stop-and-wait over the same link for
// the frames the device received; the program's own turnaround is the time
// from an acknowledgement reaching its port to its next frame leaving it.

#include "barepty.h"
#include "benchsupport.h"
#include "flashrun.h"
#include "protocolframe.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <optional>
#include <thread>

using namespace Bench;

namespace {
constexpr int DefaultRounds = 3;
// As the other benchmarks: the sequence's pauses are short, the link keeps its time.
constexpr int DefaultClockFactor = 10;
const QList<int> DefaultSizesMiB{1, 8};
constexpr double TurnaroundMedianLimitUs = 100;
constexpr double TurnaroundP99LimitUs = 1000;
constexpr double P99 = 0.99;
constexpr int TurnaroundTargetSegment = 1024; // the turnaround's targets are for 1 KiB frames
constexpr int FloorRoundTrips = 300;
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img"); // newer than the simulator's

struct Case
{
    QString speed;
    LinkModel model;
    int segment;
    double maxRatio; // target: data phase / stop-and-wait
};
const Case Cases[] = {
    {QStringLiteral("full"), LinkModel::fullSpeed(), 1024, 1.15},
    {QStringLiteral("full"), LinkModel::fullSpeed(), 65536, 1.05},
    {QStringLiteral("high"), LinkModel::highSpeed(), 1024, 1.6},
    {QStringLiteral("high"), LinkModel::highSpeed(), 65536, 1.3},
};

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// One upgrade as it crossed the modelled link, noted on the simulator's thread.
class WireRecorder
{
public:
    struct Figures
    {
        qint64 frames = 0;
        qint64 resent = 0;
        double phaseUs = 0;
        double idealUs = 0;
        double modelLateUs = 0; // the model's own lateness within the phase, both ways
        std::vector<double> turnaroundsUs;
    };

    // The recorder must outlive the device.
    void watch(DeviceSimulator &device)
    {
        QObject::connect(&device, &DeviceSimulator::frameReceived, &device,
                         [this](const SimFrameRecord &frame) { noteFrame(frame); }, Qt::DirectConnection);
        QObject::connect(&device, &DeviceSimulator::wroteToProgram, &device, [this] { noteWrite(); },
                         Qt::DirectConnection);
        QObject::connect(&device, &DeviceSimulator::readFromProgram, &device, [this] { noteRead(); },
                         Qt::DirectConnection);
        QObject::connect(&device, &DeviceSimulator::linkLate, &device,
                         [this](bool toDevice, double us) { noteLate(toDevice, us); }, Qt::DirectConnection);
    }

    // The span from the first data frame to the last is a chain of
    // exchanges, one per later frame: its acknowledgement's way back, the
    // program's turnaround and the frame's way there. Stop-and-wait with no
    // turnaround costs each one round trip and the bytes of frame and
    // acknowledgement on the wire.
    Figures figures(const LinkModel &model) const
    {
        QMutexLocker lock(&m_mutex);
        Figures out;
        out.frames = qint64(m_data.size());
        out.resent = m_resent;
        if (m_data.empty())
            return out;
        const Clock::time_point first = m_data.front().seen;
        const Clock::time_point last = m_data.back().seen;
        out.phaseUs = microseconds(last - first);
        for (size_t i = 1; i < m_data.size(); ++i) {
            out.idealUs += microseconds(2 * model.latency()
                                        + model.serialisation(ProtocolFrame::HeaderSize + m_data[i].payload
                                                              + ProtocolFrame::HeaderSize));
            out.modelLateUs += m_data[i].lateUs;
        }
        // The acknowledgements of all frames but the last, and the frames
        // after the first, each of which left the program after one of them.
        const auto within = [&](Clock::time_point t) { return t > first && t <= last; };
        for (const TimedUs &ack : m_ackLates)
            if (within(ack.at))
                out.modelLateUs += ack.us;
        for (const TimedUs &t : m_turnarounds)
            if (within(t.at))
                out.turnaroundsUs.push_back(t.us);
        return out;
    }

private:
    struct DataFrame
    {
        Clock::time_point seen;
        qint64 payload;
        double lateUs; // of the model's delivery that completed it
    };
    struct TimedUs
    {
        Clock::time_point at;
        double us;
    };

    void noteFrame(const SimFrameRecord &frame)
    {
        if (frame.command != AR_CMD_SENDFILE_DATA)
            return;
        QMutexLocker lock(&m_mutex);
        m_data.push_back({Clock::now(), qint64(frame.payload.size()), m_lastInLateUs});
        if (frame.retry > 0)
            ++m_resent;
    }
    void noteWrite()
    {
        QMutexLocker lock(&m_mutex);
        m_lastWrite = Clock::now();
        m_answered = true;
    }
    // Only the first read after a reply: a large frame comes in several.
    void noteRead()
    {
        const Clock::time_point now = Clock::now();
        QMutexLocker lock(&m_mutex);
        if (!m_answered)
            return;
        m_answered = false;
        m_turnarounds.push_back({now, microseconds(now - m_lastWrite)});
    }

    // Told on delivery, before the device takes the bytes.
    void noteLate(bool toDevice, double us)
    {
        QMutexLocker lock(&m_mutex);
        if (toDevice)
            m_lastInLateUs = us;
        else
            m_ackLates.push_back({Clock::now(), us});
    }

    mutable QMutex m_mutex;
    std::vector<DataFrame> m_data;
    double m_lastInLateUs = 0;
    std::vector<TimedUs> m_ackLates;
    qint64 m_resent = 0;
    Clock::time_point m_lastWrite;
    bool m_answered = false;
    std::vector<TimedUs> m_turnarounds;
};

// One case's rounds, pooled.
struct CaseFigures
{
    std::vector<double> ratios;
    std::vector<double> programRatios; // the model's own lateness taken out
    std::vector<double> modelLateUsPerFrame;
    std::vector<double> phaseSeconds;
    std::vector<double> idealSeconds;
    std::vector<double> turnaroundsUs;
    qint64 frames = 0;
    qint64 resent = 0;
};

// The pty's own share of a turnaround: a bare round trip of the case's
// frame between two blocking threads, paced as the link paces the frames,
// so both threads sleep as long between them as the program and the
// simulator do. It holds two wake-ups, as the turnaround measured does.
double ptyFloorUs(const Case &c)
{
    BarePtyPair pair;
    QString error;
    if (!pair.start(&error)) {
        printError(QStringLiteral("bare pty: %1").arg(error));
        return 0;
    }
    const QByteArray frame = ProtocolFrame::encode(AR_CMD_SENDFILE_DATA, AR_MSGTYPE_REQUEST, 0, 0,
                                                   QByteArray(qMin(c.segment, 51200), 'f'));
    const auto pause = 2 * c.model.latency() + c.model.serialisation(frame.size() + ProtocolFrame::HeaderSize);
    std::vector<double> samples;
    for (int i = 0; i < FloorRoundTrips; ++i) {
        std::this_thread::sleep_for(pause);
        const Clock::time_point start = Clock::now();
        if (!pair.roundTrip(frame))
            return 0;
        samples.push_back(microseconds(Clock::now() - start));
    }
    return median(samples);
}

std::optional<WireRecorder::Figures> upgradeRound(const Case &c, const QString &imagePath,
                                                  const QByteArray &imageMd5, int clockFactor)
{
    WireRecorder recorder; // outlives the device
    DeviceIdentity identity;
    identity.receiveMaxSize = c.segment;
    SimulatedLink device(identity);
    device.device().setLinkModel(c.model);
    QString error;
    if (!device.startDevice(&error)) {
        printError(QStringLiteral("simulated device: %1").arg(error));
        return std::nullopt;
    }
    recorder.watch(device.device());
    const FlashOutcome run = runFlashUpgrade(imagePath, device.device().linkPath(),
                                             device.device().identity().vendorId, clockFactor);
    if (!run.succeeded || !device.received(imageMd5)) {
        printError(QStringLiteral("the upgrade did not deliver the image (%1)").arg(run.errors));
        return std::nullopt;
    }
    return recorder.figures(c.model);
}

std::optional<CaseFigures> runCase(const Case &c, const QString &imagePath, const QByteArray &imageMd5, int rounds,
                                   int clockFactor)
{
    CaseFigures pooled;
    for (int round = 0; round < rounds; ++round) {
        const std::optional<WireRecorder::Figures> f = upgradeRound(c, imagePath, imageMd5, clockFactor);
        if (!f || f->idealUs <= 0)
            return std::nullopt;
        pooled.ratios.push_back(f->phaseUs / f->idealUs);
        pooled.programRatios.push_back((f->phaseUs - f->modelLateUs) / f->idealUs);
        pooled.modelLateUsPerFrame.push_back(f->modelLateUs / double(qMax<qint64>(1, f->frames - 1)));
        pooled.phaseSeconds.push_back(f->phaseUs / MicrosecondsPerSecond);
        pooled.idealSeconds.push_back(f->idealUs / MicrosecondsPerSecond);
        pooled.turnaroundsUs.insert(pooled.turnaroundsUs.end(), f->turnaroundsUs.begin(), f->turnaroundsUs.end());
        pooled.frames = f->frames;
        pooled.resent += f->resent;
    }
    return pooled;
}

QList<int> numbersOf(const QCommandLineParser &parser, const QCommandLineOption &option, const QList<int> &all)
{
    QList<int> out;
    for (const QString &value : parser.values(option))
        out << value.toInt();
    return out.isEmpty() ? all : out;
}
} // namespace

int main(int argc, char *argv[])
{
    dropLogMessages();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Whole upgrades by tavio-flash's library through the simulator's model of a USB link (full speed: "
        "1 ms round trip, 1 MB/s; high speed: 0.25 ms, 30 MB/s), each round against a fresh device."));
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Rounds per case (default %1).").arg(DefaultRounds),
                                          QStringLiteral("n"), QString::number(DefaultRounds));
    const QCommandLineOption clockOption(QStringLiteral("clock-factor"),
                                         QStringLiteral("How much faster than real time the program's clock "
                                                        "runs (default %1; 1: real time).")
                                             .arg(DefaultClockFactor),
                                         QStringLiteral("n"), QString::number(DefaultClockFactor));
    const QCommandLineOption sizeOption(QStringLiteral("size"),
                                        QStringLiteral("Image size in MiB; repeat for more (default 1 and 8)."),
                                        QStringLiteral("MiB"));
    const QCommandLineOption segmentOption(QStringLiteral("segment"),
                                           QStringLiteral("Only this segment length (1024 or 65536)."),
                                           QStringLiteral("bytes"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QStringLiteral("Only this link (full or high)."),
                                         QStringLiteral("full|high"));
    parser.addOptions({roundsOption, clockOption, sizeOption, segmentOption, speedOption});
    parser.process(app);
    const int rounds = qMax(1, parser.value(roundsOption).toInt());
    const int clockFactor = qMax(1, parser.value(clockOption).toInt());
    const QList<int> sizes = numbersOf(parser, sizeOption, DefaultSizesMiB);
    QList<const Case *> cases;
    for (const Case &c : Cases)
        if ((!parser.isSet(segmentOption) || parser.value(segmentOption).toInt() == c.segment)
            && (!parser.isSet(speedOption) || parser.value(speedOption) == c.speed))
            cases << &c;
    if (cases.isEmpty() || std::any_of(sizes.begin(), sizes.end(), [](int s) { return s < 1; })) {
        printError(QStringLiteral("no such case; see --help"));
        return ExitFailure;
    }

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(ImageName);
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        printError(QStringLiteral("cannot create a working folder"));
        return ExitFailure;
    }

    printLine(QStringLiteral("Whole upgrades through the link model, clock %1x, %2 rounds per case: the data phase "
                             "against stop-and-wait, the model's own lateness per frame (both ways) and the phase "
                             "without it (medians), the program's turnaround per frame (pooled) and beside it the bare pty's "
                             "round trip at the same pace (median):")
                  .arg(clockFactor)
                  .arg(rounds));
    const Table table({{QStringLiteral("link"), 4},
                       {QStringLiteral("segment"), 7},
                       {QStringLiteral("MiB"), 3},
                       {QStringLiteral("frames"), 6},
                       {QStringLiteral("phase s"), 7},
                       {QStringLiteral("ideal s"), 7},
                       {QStringLiteral("phase/ideal"), 11},
                       {QStringLiteral("model us"), 8},
                       {QStringLiteral("without model"), 13},
                       {QStringLiteral("turn med us"), 11},
                       {QStringLiteral("turn p99 us"), 11},
                       {QStringLiteral("pty floor us"), 12},
                       {QStringLiteral("resent"), 6}});
    table.printHeader();
    QMap<const Case *, double> worstRatio;
    double worstMedianUs = 0;
    double worstP99Us = 0;
    for (int sizeMiB : sizes) {
        QString error;
        if (!writeImage(imagePath, sizeMiB * MiB, &error)) {
            printError(QStringLiteral("cannot write the image: %1").arg(error));
            return ExitFailure;
        }
        const QByteArray imageMd5 = fileMd5(imagePath);
        for (const Case *c : cases) {
            const std::optional<CaseFigures> figures = runCase(*c, imagePath, imageMd5, rounds, clockFactor);
            if (!figures)
                return ExitFailure;
            const CaseFigures &pooled = *figures;
            const double ratio = median(pooled.programRatios);
            const double turnMedian = median(pooled.turnaroundsUs);
            const double turnP99 = percentile(pooled.turnaroundsUs, P99);
            worstRatio[c] = qMax(worstRatio.value(c), ratio);
            if (c->segment == TurnaroundTargetSegment) {
                worstMedianUs = qMax(worstMedianUs, turnMedian);
                worstP99Us = qMax(worstP99Us, turnP99);
            }
            table.printRow({c->speed, QString::number(c->segment), QString::number(sizeMiB),
                            QString::number(pooled.frames), fixed(median(pooled.phaseSeconds), 3),
                            fixed(median(pooled.idealSeconds), 3), fixed(median(pooled.ratios), 3),
                            fixed(median(pooled.modelLateUsPerFrame), 0), fixed(ratio, 3), fixed(turnMedian, 0),
                            fixed(turnP99, 0), fixed(ptyFloorUs(*c), 0), QString::number(pooled.resent)});
        }
    }
    printLine(QString());
    bool met = true;
    for (const Case *c : cases)
        met &= printVerdict(QStringLiteral("%1 speed, segment %2: the data phase without the model's lateness within %3x "
                                               "stop-and-wait (%4x)")
                                .arg(c->speed)
                                .arg(c->segment)
                                .arg(fixed(c->maxRatio, 2), fixed(worstRatio.value(c), 3)),
                            worstRatio.value(c) <= c->maxRatio);
    met &= printVerdict(QStringLiteral("the program's turnaround per 1 KiB frame: median within %1 us (%2 us)")
                            .arg(TurnaroundMedianLimitUs)
                            .arg(fixed(worstMedianUs, 0)),
                        worstMedianUs <= TurnaroundMedianLimitUs);
    met &= printVerdict(QStringLiteral("the program's turnaround per 1 KiB frame: 99th percentile within %1 us (%2 us)")
                            .arg(TurnaroundP99LimitUs)
                            .arg(fixed(worstP99Us, 0)),
                        worstP99Us <= TurnaroundP99LimitUs);
    return met ? 0 : ExitMiss;
}

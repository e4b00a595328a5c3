#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include "devicesimulator.h"
#include "usbvirtualserial.h"

#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// What both benchmarks share: the interleaved comparison against a reference
// measured in the same run, the simulated device wired to the program's link,
// the log sinks, image files and the printed tables.
namespace Bench {

constexpr qint64 MiB = 1 << 20;
constexpr double MicrosecondsPerSecond = 1e6;
constexpr int ExitMiss = 1;   // a target was missed
constexpr int ExitFailure = 2; // the benchmark itself could not run

// ---- time and statistics ---------------------------------------------------------

using Clock = std::chrono::steady_clock;
double elapsedUs(Clock::time_point since);
double median(std::vector<double> samples);
// The smallest sample that `fraction` of them do not exceed (nearest rank).
double percentile(std::vector<double> samples, double fraction);

// One round of one side of a comparison: the samples it measured.
using Sampler = std::function<std::vector<double>()>;

struct Medians
{
    double reference = 0;
    double subject = 0;
    bool valid = false; // both sides gave samples in every round
};

// Runs the samplers in turn, round after round, and takes the median of each
// one's pooled samples, so that load from elsewhere on the machine weighs on
// all alike. `*valid` is cleared when a sampler gave no samples in a round.
std::vector<double> interleavedMedians(int rounds, const std::vector<Sampler> &samplers, bool *valid);
// The same for a reference and a subject.
Medians compareInterleaved(int rounds, const Sampler &reference, const Sampler &subject);

// ---- logging ---------------------------------------------------------------------

// The libraries log every frame through qInfo. By default the benchmarks drop
// those lines so the figures are the link's own.
void dropLogMessages();

// While it lives, the program's own log sink takes the messages and writes
// log.txt into a temporary working folder. One session per process: the
// sink cannot be started again once shut down.
class ProgramLogSession
{
public:
    ProgramLogSession();
    ~ProgramLogSession();
    bool isValid() const { return m_dir.isValid(); }
    // Writes out what is pending and gives the size of log.txt.
    qint64 finish();

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    bool m_finished = false;
};

// ---- the device and the link -----------------------------------------------------

// Finds the device's port as Connect does, opens it, starts reception and
// asks for the device's identity (which carries its segment length).
bool connectLink(UsbVirtualSerial &link);
// Asks for the identity again: an upgrade worker created after the link
// connected learns the segment length this way, as from the page's poll.
bool askIdentity(UsbVirtualSerial &link);

// A link to a port at `path` that the program lists with vendor id `vid`:
// how the benchmarks present a simulated device to the port search.
std::unique_ptr<UsbVirtualSerial> makeLink(const QString &path, quint16 vid);

// A simulated device on a pty in this process and the program's link to it.
class SimulatedLink
{
public:
    static constexpr int RebootDelayMs = 200;

    explicit SimulatedLink(const DeviceIdentity &identity = DeviceIdentity());
    // Starts the device and connects the link; on failure the reason is in *error.
    bool start(QString *error);
    // Starts the device alone, for a program side that finds and connects it itself.
    bool startDevice(QString *error);
    // The device's last file was accepted and has the MD5 `imageMd5`.
    bool received(const QByteArray &imageMd5) const;

    DeviceSimulator &device() { return m_device; }
    const DeviceSimulator &device() const { return m_device; }
    UsbVirtualSerial &link() { return *m_link; }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    DeviceSimulator m_device;
    std::unique_ptr<UsbVirtualSerial> m_link;
};

// The data frames as a device saw them: the clock starts at the first one
// and the bytes of every later one are counted, up to the last.
class DataFrameClock
{
public:
    // Notes every frame `device` receives from now on; the clock must outlive
    // the device's last frame.
    void watch(DeviceSimulator &device);
    void note(const SimFrameRecord &frame);
    double mibPerSecond() const;
    qint64 frames() const;
    // Transmissions repeated after an acknowledgement came too late.
    qint64 resent() const;
    qint64 largestFrame() const;

private:
    mutable QMutex m_mutex;
    qint64 m_frames = 0;
    qint64 m_bytes = 0;
    qint64 m_largest = 0;
    qint64 m_resent = 0;
    Clock::time_point m_first;
    Clock::time_point m_last;
};

// ---- files and memory ------------------------------------------------------------

// Writes an image of `bytes` bytes whose every MiB differs from the others.
bool writeImage(const QString &path, qint64 bytes, QString *error);
QByteArray fileMd5(const QString &path);
QByteArray md5(const QByteArray &bytes);

// Peak resident set size (VmHWM) in KiB of process `pid` (0: this one); -1 if unknown.
qint64 peakResidentKib(qint64 pid = 0);

// ---- output ----------------------------------------------------------------------

QString fixed(double value, int decimals);

// A fixed-width text table on stdout.
class Table
{
public:
    struct Column
    {
        QString title;
        int width;
    };
    explicit Table(QList<Column> columns);
    void printHeader() const;
    void printRow(const QStringList &cells) const;

private:
    QList<Column> m_columns;
};

void printLine(const QString &line);
void printError(const QString &line);
// "PASS" or "MISS" in front of the target; returns `met`.
bool printVerdict(const QString &target, bool met);

} // namespace Bench

#endif // BENCHSUPPORT_H

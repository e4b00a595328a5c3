#ifndef UPGRADERUN_H
#define UPGRADERUN_H

#include "simulateddevice.h"
#include "temporaryfolders.h"
#include "testbytes.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFuture>
#include <QTest>
#include <QtConcurrent>

// Helpers of the tests that run whole upgrade sequences.
namespace UpgradeRun {

// Consecutive repeats collapsed: the order of the phases of an exchange.
inline QList<quint32> phases(const QList<quint32> &commands)
{
    QList<quint32> out;
    for (quint32 command : commands)
        if (out.isEmpty() || out.last() != command)
            out.append(command);
    return out;
}

// The system's temporary folder, a fresh one while this exists: the program
// makes its own there, and in that its folders of part files and of an
// image extracted from an archive.
class ProgramTempDir
{
public:
    ProgramTempDir() : m_previous(qgetenv("TMPDIR")) { qputenv("TMPDIR", QFile::encodeName(dir.path())); }
    ~ProgramTempDir() { qputenv("TMPDIR", m_previous); }
    // Nothing in the program's own folder.
    bool noPartsLeft() const
    {
        return QDir(TemporaryFolders(dir.path()).path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
            .isEmpty();
    }

    QTemporaryDir dir;

private:
    QByteArray m_previous;
};

// A worker on a fast clock and a simulated device it is connected to, as the
// page connects: port open, reception on, identity asked for.
struct WorkerOnDevice
{
    explicit WorkerOnDevice(const DeviceIdentity &identity = DeviceIdentity()) : device(identity) {}
    ~WorkerOnDevice() { m_upgrade_device_vid = 0; }

    bool start(int clockFactor, int rebootDelayMs)
    {
        if (!device.start())
            return false;
        device.sim.setRebootDelay(rebootDelayMs);
        useClock(clockFactor);
        return connect();
    }
    void useClock(int clockFactor) { useClock(std::make_shared<ScaledClock>(clockFactor)); }
    void useClock(std::shared_ptr<const UpgradeClock> clock)
    {
        recorder.reset();
        worker.reset(new UpgradeProcess(device.link.get(), std::move(clock)));
        recorder.reset(new UpgradeRecorder(worker.get()));
    }
    // Also names the device as the one being upgraded, as Upgrade does.
    bool connect()
    {
        if (!device.open()
            || device.link->commandSerialSend(AR_COMMAND_FIND_DEVICE, 1, 2, 0, nullptr, 0, 1, 2000) != 0)
            return false;
        m_upgrade_device_vid = device.sim.identity().vendorId;
        device.sim.clearFrames();
        return true;
    }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = device.dir.filePath(name);
        return TestBytes::writeFile(path, bytes) ? path : QString();
    }
    // Starts the sequence the page would start for `path`.
    QFuture<void> launch(const QString &path, UpgradeKind kind)
    {
        UpgradeProcess *w = worker.get();
        if (kind == UpgradeKind::Package)
            return QtConcurrent::run(w, &UpgradeProcess::upgradeProcess_tarel_sky, path);
        w->setBinFilePath(path);
        return QtConcurrent::run(w, &UpgradeProcess::upgradeProcess);
    }
    // True when the sequence ended in time and left the worker idle; one that
    // does not end in time is ended by a reset.
    bool run(const QString &path, UpgradeKind kind, int timeoutMs = 30000)
    {
        QFuture<void> task = launch(path, kind);
        QDeadlineTimer deadline(timeoutMs);
        while (!task.isFinished() && !deadline.hasExpired())
            QTest::qWait(10); // this thread's events go on meanwhile
        if (!task.isFinished()) {
            worker->resetUpgradeParameters(1);
            task.waitForFinished();
            return false;
        }
        return !worker->isSequenceRunning() && worker->getUpgStep() == -1;
    }

    SimulatedDevice device;
    std::unique_ptr<UpgradeProcess> worker;
    std::unique_ptr<UpgradeRecorder> recorder;
};

} // namespace UpgradeRun

#endif // UPGRADERUN_H

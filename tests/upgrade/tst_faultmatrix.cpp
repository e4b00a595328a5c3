#include "faultinjection.h"
#include "logcapture.h"
#include "simulateddevice.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"
#include "upgraderun.h"

#include <QtConcurrent>
#include <QtTest>
#include <sys/resource.h>

namespace {
constexpr int FastFactor = 100;
constexpr int HealthyRebootDelayMs = 150;

QByteArray image()
{
    QByteArray bytes(5000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 29 + 3);
    return bytes;
}

// CPU time this process used, in milliseconds.
qint64 cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}
} // namespace

// Each row injects one fault into an upgrade and checks what the user gets,
// that nothing is left running or spinning, and that the next upgrade works.
class TestFaultMatrix : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fault_endsCleanlyAndTheNextUpgradeSucceeds_data();
    void fault_endsCleanlyAndTheNextUpgradeSucceeds();

private:
    void connectAndPrepare();
    bool runUpgrade();

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<SimulatedDevice> m_device;
    std::unique_ptr<UpgradeProcess> m_worker;
    std::unique_ptr<UpgradeRecorder> m_recorder;
    QString m_imagePath;
};

void TestFaultMatrix::init()
{
    m_log.reset(new LogCapture);
    m_device.reset(new SimulatedDevice);
    QVERIFY(m_device->start());
    m_device->sim.setRebootDelay(HealthyRebootDelayMs);
    m_imagePath = m_device->dir.filePath(QStringLiteral("Merlow_R_Sky_1_0_6.img"));
    QFile file(m_imagePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image());
    file.close();
}

void TestFaultMatrix::cleanup()
{
    m_recorder.reset();
    m_worker.reset();
    m_device.reset();
    m_log.reset();
    m_upgrade_device_vid = 0;
}

void TestFaultMatrix::connectAndPrepare()
{
    m_worker.reset(new UpgradeProcess(m_device->link.get(), std::make_shared<ScaledClock>(FastFactor)));
    m_recorder.reset(new UpgradeRecorder(m_worker.get()));
    QVERIFY(m_device->open());
    QCOMPARE(m_device->link->commandSerialSend(AR_COMMAND_FIND_DEVICE, 1, 2, 0, nullptr, 0, 1, 2000), 0);
    m_worker->setBinFilePath(m_imagePath, QFileInfo(m_imagePath).fileName());
    m_upgrade_device_vid = m_device->sim.identity().vendorId;
}

bool TestFaultMatrix::runUpgrade()
{
    return UpgradeRun::finish(QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess),
                              m_worker.get());
}

void TestFaultMatrix::fault_endsCleanlyAndTheNextUpgradeSucceeds_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<int>("lostReports"); // the reboot itself takes the port away once
    for (const Faults::Fault &fault : Faults::all())
        QTest::newRow(qPrintable(fault.name)) << fault.name << fault.hint << 1 + fault.vanishes;
    QTest::newRow("very slow but within every timeout") << "slow" << Faults::Success << 1;
}

void TestFaultMatrix::fault_endsCleanlyAndTheNextUpgradeSucceeds()
{
    QFETCH(QString, fault);
    QFETCH(QString, hint);
    QFETCH(int, lostReports);
    DeviceSimulator &sim = m_device->sim;
    connectAndPrepare();
    if (fault == QLatin1String("slow")) {
        m_worker.reset(new UpgradeProcess(m_device->link.get(), std::make_shared<ScaledClock>(FastFactor / 5)));
        m_recorder.reset(new UpgradeRecorder(m_worker.get()));
        m_worker->setBinFilePath(m_imagePath, QFileInfo(m_imagePath).fileName());
        sim.setReplyDelay(UpgradeProcess::AckTimeoutMs * 5 / FastFactor / 2);
    }
    Faults::inject(fault, &sim, FastFactor);

    QVERIFY(runUpgrade());
    QCOMPARE(m_recorder->hints(), hint.isEmpty() ? QStringList() : QStringList{hint});
    QCOMPARE(m_recorder->progress().contains(100), hint.isEmpty());
    QVERIFY(m_recorder->view().contains(Faults::viewLineFor(hint)));
    QVERIFY(!m_device->link->isSerialRecvStarted()); // the worker's reset stopped reception
    if (hint.isEmpty())
        QCOMPARE(sim.receivedFiles().last().data, image());
    QVERIFY(!m_worker->isSequenceRunning());
    QCOMPARE(m_worker->getUpgStep(), -1);
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    QCOMPARE(LogCapture::count(QStringLiteral("serial port lost:")), lostReports);

    // Nothing keeps spinning once the upgrade has ended.
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QVERIFY2(cpuMs() - cpuBefore < 150, qPrintable(QString::number(cpuMs() - cpuBefore)));

    // A healthy device upgrades next, on the same link and worker.
    Faults::heal(&sim, HealthyRebootDelayMs);
    QTRY_VERIFY(sim.isPresent());
    m_device->link->closeSerialPort();
    m_recorder.reset();
    connectAndPrepare();
    QVERIFY(runUpgrade());
    QVERIFY(m_recorder->hints().isEmpty());
    QCOMPARE(m_recorder->progress().last(), 100);
    QCOMPARE(sim.receivedFiles().last().data, image());
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"

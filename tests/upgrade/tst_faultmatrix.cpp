#include "logcapture.h"
#include "simulateddevice.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"

#include <QtConcurrent>
#include <QtTest>
#include <sys/resource.h>

namespace {
constexpr int FastFactor = 100;
constexpr int HealthyRebootDelayMs = 150;
const QString Success;
const QString TransferFailed = QStringLiteral("升级固件传输失败，请重启设备再次升级。");
const QString Timeout = QStringLiteral("升级超时，请重启设备再次升级。");
const QString NotBack = QStringLiteral("FPV设备重启后未能重新连接，请重启设备再次升级。");
const QString UnknownError = QStringLiteral("升级错误：未知错误！请重启设备再次升级！");

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
    void vanishOn(quint32 command, int occurrence);
    void connectAndPrepare();
    bool runUpgrade();

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<SimulatedDevice> m_device;
    std::unique_ptr<UpgradeProcess> m_worker;
    std::unique_ptr<UpgradeRecorder> m_recorder;
    QString m_imagePath;
    int m_seen = 0;
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
    m_seen = 0;
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
    QFuture<void> task = QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess);
    QDeadlineTimer deadline(60000);
    while (!task.isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    return task.isFinished();
}

// The device disappears, as if unplugged, when it receives the given frame:
// it answers nothing more (that frame's own answer may still go out).
void TestFaultMatrix::vanishOn(quint32 command, int occurrence)
{
    DeviceSimulator *sim = &m_device->sim;
    QObject::connect(sim, &DeviceSimulator::frameReceived, sim, [this, sim, command, occurrence](const SimFrameRecord &frame) {
        if (frame.command == command && ++m_seen == occurrence) {
            sim->setSilent(true); // nothing more leaves the device from this frame on
            QMetaObject::invokeMethod(qApp, [sim] { sim->vanish(); }, Qt::QueuedConnection);
        }
    }, Qt::DirectConnection);
}

void TestFaultMatrix::fault_endsCleanlyAndTheNextUpgradeSucceeds_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<int>("lostReports"); // the reboot itself takes the port away once
    QTest::newRow("device never back from its reboot") << "never back" << NotBack << 1;
    QTest::newRow("back with another vendor identifier") << "other vendor" << NotBack << 1;
    QTest::newRow("vanishes at the announcement") << "vanish 115" << TransferFailed << 2;
    QTest::newRow("vanishes in the middle of the data") << "vanish 116" << TransferFailed << 2;
    QTest::newRow("vanishes at the end of file") << "vanish 117" << TransferFailed << 2;
    QTest::newRow("vanishes during the status phase") << "vanish 118" << Timeout << 2;
    QTest::newRow("duplicate acknowledgements") << "duplicates" << Success << 1;
    QTest::newRow("late acknowledgements") << "late" << Success << 1;
    // Unacknowledged data frames keep their sequence number, so the device takes
    // the next segments for retransmissions: its verdict refuses the file.
    QTest::newRow("acknowledgements for other sequence numbers") << "other seq" << TransferFailed << 1;
    QTest::newRow("a reply with a corrupted length") << "bad length" << Success << 1;
    QTest::newRow("device refuses a data frame") << "refusal" << UnknownError << 1;
    QTest::newRow("very slow but within every timeout") << "slow" << Success << 1;
}

void TestFaultMatrix::fault_endsCleanlyAndTheNextUpgradeSucceeds()
{
    QFETCH(QString, fault);
    QFETCH(QString, hint);
    QFETCH(int, lostReports);
    DeviceSimulator &sim = m_device->sim;
    connectAndPrepare();
    if (fault == QLatin1String("never back")) {
        sim.setRebootDelay(24 * 3600 * 1000);
    } else if (fault == QLatin1String("other vendor")) {
        QObject::connect(&sim, &DeviceSimulator::rebooting, &sim, [&sim] {
            DeviceIdentity other = sim.identity();
            other.vendorId = AR_FPV_BOARD_TYPE_SKY_EX4;
            sim.setIdentity(other);
        });
    } else if (fault.startsWith(QLatin1String("vanish"))) {
        const quint32 command = fault.section(' ', 1).toUInt();
        if (command == AR_CMD_SENDFILE_END)
            sim.setSilent(true, AR_CMD_SENDFILE_END); // gone before its verdict
        vanishOn(command, command == AR_CMD_SENDFILE_DATA || command == AR_CMD_UPGRADE_STATUS ? 3 : 1);
    } else if (fault == QLatin1String("duplicates")) {
        sim.setDuplicateReplies(true);
    } else if (fault == QLatin1String("late")) {
        sim.setReplyDelay(UpgradeProcess::AckTimeoutMs / FastFactor * 3 / 2);
    } else if (fault == QLatin1String("other seq")) {
        sim.setAckSeqOffset(1);
    } else if (fault == QLatin1String("bad length")) {
        QObject::connect(&sim, &DeviceSimulator::frameReceived, &sim, [&sim](const SimFrameRecord &frame) {
            if (frame.command == AR_CMD_REMOTE_UPGRADE)
                sim.corruptNextReplyLengths(1); // the announcement's acknowledgement
        }, Qt::DirectConnection);
    } else if (fault == QLatin1String("refusal")) {
        sim.refuseNext(1, AR_CMD_SENDFILE_DATA);
    } else if (fault == QLatin1String("slow")) {
        m_worker.reset(new UpgradeProcess(m_device->link.get(), std::make_shared<ScaledClock>(FastFactor / 5)));
        m_recorder.reset(new UpgradeRecorder(m_worker.get()));
        m_worker->setBinFilePath(m_imagePath, QFileInfo(m_imagePath).fileName());
        sim.setReplyDelay(UpgradeProcess::AckTimeoutMs * 5 / FastFactor / 2);
    }

    QVERIFY(runUpgrade());
    QCOMPARE(m_recorder->hints(), hint.isEmpty() ? QStringList() : QStringList{hint});
    QCOMPARE(m_recorder->progress().contains(100), hint.isEmpty());
    if (hint.isEmpty())
        QCOMPARE(sim.receivedFiles().last().data, image());
    QVERIFY(!m_worker->isSequenceRunning());
    QCOMPARE(m_worker->getUpgStep(), -1);
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    const int lost = LogCapture::count(QStringLiteral("serial port lost:"));
    if (lostReports >= 0)
        QCOMPARE(lost, lostReports);
    else
        QVERIFY(lost <= 1);

    // Nothing keeps spinning once the upgrade has ended.
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QVERIFY2(cpuMs() - cpuBefore < 150, qPrintable(QString::number(cpuMs() - cpuBefore)));

    // A healthy device upgrades next, on the same link and worker.
    sim.setIdentity(DeviceIdentity());
    sim.reappear();
    sim.setRebootDelay(HealthyRebootDelayMs);
    sim.setDuplicateReplies(false);
    sim.setReplyDelay(0);
    sim.setAckSeqOffset(0);
    sim.setSilent(false);
    sim.setStatusScript({});
    QObject::disconnect(&sim, nullptr, &sim, nullptr);
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

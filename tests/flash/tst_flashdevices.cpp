#include "flashbench.h"

#include <QSemaphore>
#include <QtTest>

using namespace FlashBench;

namespace {
// The device stops answering at its fifth data frame: its simulator's thread
// is held there until the stall is lifted.
class MidTransferStall
{
public:
    explicit MidTransferStall(DeviceSimulator &sim)
    {
        QObject::connect(&sim, &DeviceSimulator::frameReceived, &sim, [this](const SimFrameRecord &frame) {
            if (frame.command == AR_CMD_SENDFILE_DATA && ++m_dataFrames == 5)
                m_release.tryAcquire(1, 120000);
        }, Qt::DirectConnection);
    }
    ~MidTransferStall() { lift(); }
    void lift() { m_release.release(); }

private:
    QSemaphore m_release;
    int m_dataFrames = 0; // the simulator's thread only
};

// The system's ports: each device's while its port is there.
SharedPortLister systemWith(const std::vector<std::unique_ptr<BenchDevice>> &devices)
{
    SharedPortLister ports = std::make_shared<FixedPortLister>();
    for (const auto &device : devices)
        ports = std::make_shared<ExtraPortLister>(
            ports, SerialPortDescription{device->sim.linkPath(), QString(), device->sim.identity().vendorId});
    return ports;
}
} // namespace

// Several devices at once, each on a link, worker and thread of its own.
class TestFlashDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }
    void twoDevices_oneFailingMidTransfer_theOtherSucceeds();
    void allFourDevices_oneFailing_theOthersSucceed();

private:
    FlashWorld m_world;
};

// Device B stops answering at its fifth data frame (its simulator's thread is
// held there); A, upgraded at the same time, finishes all the same.
void TestFlashDevices::twoDevices_oneFailingMidTransfer_theOtherSucceeds()
{
    DeviceIdentity second;
    second.serialNumber = "SN0002";
    BenchDevice a, b(second);
    QVERIFY(a.start());
    QVERIFY(b.start());
    MidTransferStall stall(b.sim);
    const QByteArray image = pattern(64 * 1024, 6);
    const QString path = m_world.writeFile(Image, image);
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"} + a.portArguments() + b.portArguments());
    stall.lift();
    QCOMPARE(run.exitCode, 5);
    QCOMPARE(a.sim.receivedFiles().size(), 1);
    QCOMPARE(a.sim.receivedFiles().first().data, image);
    QVERIFY(b.sim.receivedFiles().isEmpty());

    bool parsed = false;
    const QList<QJsonObject> events = run.events(&parsed);
    QVERIFY(parsed);
    const auto resultA = CommandRun::ofType(events, "result", a.sim.linkPath());
    const auto resultB = CommandRun::ofType(events, "result", b.sim.linkPath());
    QCOMPARE(resultA.size(), 1);
    QCOMPARE(resultB.size(), 1);
    QCOMPARE(number(resultA.first(), "exitCode"), 0);
    QCOMPARE(string(resultA.first(), "serial"), QStringLiteral("SN0001"));
    QCOMPARE(number(resultB.first(), "exitCode"), 5);
    QCOMPARE(string(resultB.first(), "serial"), QStringLiteral("SN0002"));
    const auto progressB = CommandRun::ofType(events, "progress", b.sim.linkPath());
    QVERIFY(!progressB.isEmpty());
    QVERIFY(progressB.last().value("bytes").toDouble() < image.size()); // it failed mid-transfer
    QVERIFY(run.err.contains(b.sim.linkPath()));
    QVERIFY(!run.err.contains(a.sim.linkPath()));
}

// --all takes the four devices attached at the start; the third stops
// answering mid-transfer. A fifth device, attached once the run is under way,
// is left alone.
void TestFlashDevices::allFourDevices_oneFailing_theOthersSucceed()
{
    constexpr int Failing = 2;
    std::vector<std::unique_ptr<BenchDevice>> devices;
    for (int i = 0; i < 5; ++i) {
        DeviceIdentity identity;
        identity.serialNumber = QByteArray("SN10") + QByteArray::number(i);
        devices.emplace_back(new BenchDevice(identity));
        QVERIFY(devices.back()->start());
    }
    BenchDevice &late = *devices.back();
    late.sim.vanish();
    connect(&devices.front()->sim, &DeviceSimulator::frameReceived, &late.sim, [&late](const SimFrameRecord &frame) {
        if (frame.command == AR_CMD_SENDFILE_START)
            late.sim.reappear();
    }, Qt::DirectConnection);
    MidTransferStall stall(devices.at(Failing)->sim);
    const QByteArray image = pattern(48 * 1024, 7);
    const QString path = m_world.writeFile(Image, image);
    const QString ledger = m_world.path(QStringLiteral("four.csv"));
    const CommandRun run = runCommand({"upgrade", path, "--all", "--ledger", ledger}, systemWith(devices));
    stall.lift();

    QCOMPARE(run.exitCode, 5);
    QVERIFY(late.sim.frames().isEmpty());
    QFile lines(ledger);
    QVERIFY(lines.open(QIODevice::ReadOnly));
    QCOMPARE(lines.readAll().count("\r\n"), 1 + 4); // the header and one line per device
    for (int i = 0; i < 4; ++i) {
        const BenchDevice &device = *devices.at(i);
        const bool failing = i == Failing;
        QCOMPARE(device.sim.receivedFiles().size(), failing ? 0 : 1);
        if (!failing)
            QCOMPARE(device.sim.receivedFiles().first().data, image);
        const QString summary = device.sim.linkPath() + (failing ? QStringLiteral(": failed (exit 5)\n")
                                                                 : QStringLiteral(": upgraded\n"));
        QVERIFY2(run.out.contains(summary), qPrintable(run.out));
        QCOMPARE(run.err.contains(device.sim.linkPath()), failing);
    }
}

QTEST_GUILESS_MAIN(TestFlashDevices)
#include "tst_flashdevices.moc"

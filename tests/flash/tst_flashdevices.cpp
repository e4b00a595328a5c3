#include "flashbench.h"
#include <QSemaphore>

#include <QtTest>

using namespace FlashBench;

// Several devices at once, each on a link, worker and thread of its own.
class TestFlashDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }
    void twoDevices_oneFailingMidTransfer_theOtherSucceeds();

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
    QSemaphore release;
    int dataFrames = 0; // the simulator's thread only
    connect(&b.sim, &DeviceSimulator::frameReceived, &b.sim, [&](const SimFrameRecord &frame) {
        if (frame.command == AR_CMD_SENDFILE_DATA && ++dataFrames == 5)
            release.tryAcquire(1, 120000);
    }, Qt::DirectConnection);
    const QByteArray image = pattern(64 * 1024, 6);
    const QString path = m_world.writeFile(Image, image);
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"} + a.portArguments() + b.portArguments());
    release.release();
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

QTEST_GUILESS_MAIN(TestFlashDevices)
#include "tst_flashdevices.moc"

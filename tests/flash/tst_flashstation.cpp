#include "flashbench.h"
#include "interruptwatcher.h"

#include <QThread>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <functional>

using namespace FlashBench;

namespace {
// The system's ports as the test plugs them in: an attached device's port
// is listed while it exists. Counts the station's looks (on the main thread;
// the links look from theirs), so a test knows a port's absence was seen.
class BenchPorts : public SerialPortLister
{
public:
    QList<SerialPortDescription> availablePorts() const override
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++m_stationLooks;
        QMutexLocker lock(&m_mutex);
        QList<SerialPortDescription> ports;
        for (const SerialPortDescription &port : m_attached)
            if (QFileInfo::exists(port.portName))
                ports.append(port);
        return ports;
    }
    void attach(const BenchDevice &device, bool attached = true)
    {
        const SerialPortDescription port{device.sim.linkPath(), QString(), device.sim.identity().vendorId};
        QMutexLocker lock(&m_mutex);
        m_attached.remove(port.portName);
        if (attached)
            m_attached.insert(port.portName, port);
    }
    int stationLooks() const { return m_stationLooks.load(); }

private:
    mutable QMutex m_mutex;
    QMap<QString, SerialPortDescription> m_attached;
    mutable std::atomic<int> m_stationLooks{0};
};

int lineCount(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("\r\n")) - 1 : 0;
}

int identityRequests(const BenchDevice &device)
{
    return int(device.commands().count(AR_COMMAND_FIND_DEVICE));
}

// Steps the bench on the main thread while the station runs there: each step
// waits for its condition. Interrupts twice when the steps take too long, so
// a broken station fails the test instead of hanging it.
class BenchScript
{
public:
    using Step = std::function<bool()>; // true: done, go on to the next

    explicit BenchScript(QList<Step> steps) : m_steps(std::move(steps))
    {
        m_deadline.start();
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_timer.start();
    }
    bool finished() const { return m_steps.isEmpty(); }

private:
    void tick()
    {
        while (!m_steps.isEmpty() && m_steps.first()())
            m_steps.removeFirst();
        if (!m_steps.isEmpty() && m_deadline.hasExpired(120000)) {
            m_timer.stop();
            InterruptWatcher::deliver(SIGINT);
            InterruptWatcher::deliver(SIGINT);
        }
    }

    QList<Step> m_steps;
    QTimer m_timer;
    QElapsedTimer m_deadline;
};
} // namespace

// Station mode: devices arrive one after another, each is upgraded once.
class TestFlashStation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }
    void devicesArriveOneAfterAnother();
    void interrupt_data();
    void interrupt();

private:
    FlashWorld m_world;
};

// A is upgraded, then taken away and brought back (as after its restart):
// left alone. B fails with a numbered failure, C is upgraded; then Ctrl-C.
void TestFlashStation::devicesArriveOneAfterAnother()
{
    DeviceIdentity identities[3];
    for (int i = 0; i < 3; ++i)
        identities[i].serialNumber = QByteArray("SN200") + QByteArray::number(i + 1);
    BenchDevice a(identities[0]), b(identities[1]), c(identities[2]);
    QVERIFY(a.start() && b.start() && c.start());
    b.sim.setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, UPGRATE_ERR_BAD_FILE}});
    const auto ports = std::make_shared<BenchPorts>();
    const QString ledger = m_world.path(QStringLiteral("station.csv"));
    const QString path = m_world.writeFile(Image, pattern(9000, 13));
    int looks = 0, requests = 0;
    BenchScript script({
        [&] { ports->attach(a); return true; },
        [&] { return lineCount(ledger) == 1; },
        [&] { ports->attach(a, false); looks = ports->stationLooks(); return true; },
        [&] { return ports->stationLooks() >= looks + 2; },
        [&] { requests = identityRequests(a); ports->attach(a); return true; },
        [&] { return identityRequests(a) > requests; },
        [&] { ports->attach(b); return true; },
        [&] { return lineCount(ledger) == 2; },
        [&] { ports->attach(c); return true; },
        [&] { return lineCount(ledger) == 3; },
        [&] { InterruptWatcher::deliver(SIGINT); return true; },
    });
    const CommandRun run = runCommand({"upgrade", path, "--watch", "--json", "--ledger", ledger}, ports);
    QVERIFY(script.finished());
    QCOMPARE(run.exitCode, 4);
    QCOMPARE(a.sim.receivedFiles().size(), 1);
    QCOMPARE(b.sim.receivedFiles().size(), 1);
    QCOMPARE(c.sim.receivedFiles().size(), 1);

    bool parsed = false;
    const QList<QJsonObject> events = run.events(&parsed);
    QVERIFY(parsed);
    QMap<QString, int> results;
    for (const QJsonObject &result : CommandRun::ofType(events, "result"))
        results.insert(string(result, "serial"), number(result, "exitCode"));
    QCOMPARE(results, (QMap<QString, int>{{"SN2001", 0}, {"SN2002", 4}, {"SN2003", 0}}));
    QStringList leftAlone;
    for (const QJsonObject &phase : CommandRun::ofType(events, "phase"))
        if (string(phase, "phase") == QLatin1String("left-alone"))
            leftAlone.append(string(phase, "serial"));
    QCOMPARE(leftAlone, QStringList{"SN2001"});
    const QJsonObject summary = events.last();
    QCOMPARE(string(summary, "event"), QStringLiteral("summary"));
    QCOMPARE(number(summary, "upgraded"), 2);
    QCOMPARE(number(summary, "failed"), 1);
    QCOMPARE(number(summary, "skipped"), 0);
}

void TestFlashStation::interrupt_data()
{
    QTest::addColumn<int>("interrupts");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("once: the upgrade finishes") << 1 << 0;
    QTest::newRow("twice: the upgrade is cancelled") << 2 << 5;
}

// Ctrl-C in A's transfer; B, attached right after, is never touched.
void TestFlashStation::interrupt()
{
    QFETCH(int, interrupts);
    QFETCH(int, exitCode);
    DeviceIdentity second;
    second.serialNumber = "SN0002";
    BenchDevice a, b(second);
    QVERIFY(a.start() && b.start());
    const auto ports = std::make_shared<BenchPorts>();
    ports->attach(a);
    int dataFrames = 0; // A's simulator thread only
    connect(&a.sim, &DeviceSimulator::frameReceived, &a.sim, [&](const SimFrameRecord &frame) {
        if (frame.command != AR_CMD_SENDFILE_DATA || ++dataFrames != 3)
            return;
        for (int i = 0; i < interrupts; ++i)
            InterruptWatcher::deliver(SIGINT);
        ports->attach(b);
    }, Qt::DirectConnection);
    const QByteArray image = pattern(32 * 1024, 14);
    const QString path = m_world.writeFile(Image, image);
    const CommandRun run = runCommand({"upgrade", path, "--watch"}, ports);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(b.sim.frames().isEmpty());
    QCOMPARE(a.sim.receivedFiles().size(), exitCode == 0 ? 1 : 0);
    if (exitCode == 0)
        QCOMPARE(a.sim.receivedFiles().first().data, image);
    else
        QVERIFY2(run.err.contains(QLatin1String("cancelled")), qPrintable(run.err));
    const QString summary = exitCode == 0 ? QStringLiteral("upgraded 1, failed 0, skipped 0\n")
                                          : QStringLiteral("upgraded 0, failed 1, skipped 0\n");
    QVERIFY2(run.out.endsWith(summary), qPrintable(run.out));
}

QTEST_GUILESS_MAIN(TestFlashStation)
#include "tst_flashstation.moc"

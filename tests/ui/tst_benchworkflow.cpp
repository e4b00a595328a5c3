#include "faultinjection.h"
#include "packagebuilder.h"
#include "upgradepage_fixture.h"
#include "upgradeprocess.h"
#include "upgraderun.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <sys/resource.h>

using namespace PageTexts;

namespace {
constexpr int FastFactor = 100;
constexpr int HealthyRebootDelayMs = 150;
constexpr int AwayRebootDelayMs = 2000; // long enough for the user to act meanwhile
constexpr int UpgradeTimeoutMs = 60000;
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img");
const QString PackageName = QStringLiteral("Merlow_R_Sky_1_0_7.img");
const QString BrokenPackageName = QStringLiteral("Merlow_R_Sky_1_0_8.img");

QByteArray image()
{
    QByteArray bytes(5000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 29 + 3);
    return bytes;
}

DeviceIdentity packageLine()
{
    DeviceIdentity identity;
    identity.vendorId = AR_FPV_BOARD_TYPE_SKY_EX6;
    return identity;
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

// What a repair bench does: one page, one worker and one link for the whole
// run, upgrade after upgrade, whatever the previous one ended in.
class TestBenchWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fault_endsCleanlyAndTheNextUpgradeSucceeds_data();
    void fault_endsCleanlyAndTheNextUpgradeSucceeds();
    void benchRun_mixedUpgradesEachEndAsExpected();

private:
    // Reports the device under its present identity and presses Connect.
    void connectDevice();
    void disconnectDevice();
    // Chooses `path`, presses Upgrade and waits until the page and the worker
    // are idle; `box` is the warning the outcome shows (empty: success).
    void upgrade(const QString &path, const QString &box);
    void healDevice(const DeviceIdentity &identity = DeviceIdentity());
    QString logView() const;

    std::unique_ptr<PageFixture> f;
    QString m_imagePath;
    QString m_packagePath;
    QByteArray m_app;
    QByteArray m_fpga;
};

void TestBenchWorkflow::initTestCase()
{
    f.reset(new PageFixture);
    QVERIFY(f->startDevice());
    f->device->sim.setRebootDelay(HealthyRebootDelayMs);
    f->settingPage.reset(new SettingPage(nullptr));
    f->makePage(f->settingPage.get(), std::make_shared<ScaledClock>(FastFactor));
    m_imagePath = f->writeFile(ImageName, image());
    m_app = UpgradeRun::pattern(3000, 1);
    m_fpga = UpgradeRun::pattern(2000, 2);
    PackageBuilder package;
    package.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
    QVERIFY(package.addPart(IMG_TAREL_APP, m_app));
    QVERIFY(package.addPart(IMG_TAREL_FPGA, m_fpga));
    m_packagePath = f->writeFile(PackageName, package.bytes());
}

void TestBenchWorkflow::cleanupTestCase()
{
    f.reset();
}

void TestBenchWorkflow::connectDevice()
{
    f->page->handleDeviceDetected(f->device->sim.identity().vendorId);
    f->click("btnConnDevice");
    QVERIFY(f->shown("widgetUpg"));
}

void TestBenchWorkflow::disconnectDevice()
{
    f->click("btnDisConnDevice");
    QVERIFY(f->shown("widgetConn"));
}

void TestBenchWorkflow::upgrade(const QString &path, const QString &box)
{
    f->chooseFile(path);
    f->click("btnSelectBinFile");
    QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
    if (!box.isEmpty())
        f->boxes.expect(Warning, box);
    f->click("btnUpgrade");
    QTRY_VERIFY_WITH_TIMEOUT(!f->page->getUpgradeFlag() && !f->page->worker()->isSequenceRunning(),
                             UpgradeTimeoutMs);
    VERIFY_BOXES(f->boxes);
}

void TestBenchWorkflow::healDevice(const DeviceIdentity &identity)
{
    DeviceSimulator &sim = f->device->sim;
    Faults::heal(&sim, HealthyRebootDelayMs);
    sim.setIdentity(identity);
    sim.setVerdicts({});
    QTRY_VERIFY(sim.isPresent());
}

QString TestBenchWorkflow::logView() const
{
    QCoreApplication::processEvents(); // the lines arrive queued
    return f->settingPage->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText();
}

void TestBenchWorkflow::fault_endsCleanlyAndTheNextUpgradeSucceeds_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<int>("lostReports"); // the reboot itself takes the port away once
    for (const Faults::Fault &fault : Faults::all())
        QTest::newRow(qPrintable(fault.name)) << fault.name << fault.hint << 1 + fault.vanishes;
    QTest::newRow("very slow but within every timeout") << "slow" << Faults::Success << 1;
}

// Every row runs on the same page and worker as the rows before it.
void TestBenchWorkflow::fault_endsCleanlyAndTheNextUpgradeSucceeds()
{
    QFETCH(QString, fault);
    QFETCH(QString, hint);
    QFETCH(int, lostReports);
    DeviceSimulator &sim = f->device->sim;
    connectDevice();
    if (fault == QLatin1String("slow"))
        sim.setReplyDelay(ScaledClock(FastFactor).replyWaitMs(UpgradeProcess::AckTimeoutMs) / 2);
    Faults::inject(fault, &sim, FastFactor);
    sim.clearFrames();
    LogCapture::clear();

    upgrade(m_imagePath, hint);
    QCOMPARE(f->text("lbNote"), hint.isEmpty() ? Finished : hint);
    QVERIFY(logView().contains(Faults::viewLineFor(hint)));
    QVERIFY(!f->device->link->isSerialRecvStarted()); // the worker's reset stopped reception
    if (hint.isEmpty())
        QCOMPARE(sim.receivedFiles().last().data, image());
    else
        QVERIFY(f->bar()->value() < 100);
    QCOMPARE(f->page->worker()->getUpgStep(), -1);
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    QCOMPARE(LogCapture::count(QStringLiteral("serial port lost:")), lostReports);

    // Nothing keeps spinning once the upgrade has ended.
    const qint64 cpuBefore = cpuMs();
    QTest::qWait(500);
    QVERIFY2(cpuMs() - cpuBefore < 150, qPrintable(QString::number(cpuMs() - cpuBefore)));

    // The bench goes on: disconnect, the device is healthy again, upgrade.
    disconnectDevice();
    healDevice();
    connectDevice();
    upgrade(m_imagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);
    QCOMPARE(f->bar()->value(), 100);
    QCOMPARE(sim.receivedFiles().last().data, image());
    disconnectDevice();
}

void TestBenchWorkflow::benchRun_mixedUpgradesEachEndAsExpected()
{
    DeviceSimulator &sim = f->device->sim;
    // What the device received from the next upgrade on.
    int receivedBefore = 0;
    const auto receivedParts = [&sim, &receivedBefore] {
        QList<QByteArray> parts;
        for (const SimReceivedFile &file : sim.receivedFiles().mid(receivedBefore))
            parts.append(file.data);
        return parts;
    };

    // A single image, then a package on the other line.
    healDevice();
    connectDevice();
    upgrade(m_imagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);
    disconnectDevice();
    healDevice(packageLine());
    connectDevice();
    sim.clearFrames();
    receivedBefore = sim.receivedFiles().size();
    QSignalSpy restarts(&sim, &DeviceSimulator::rebooted);
    upgrade(m_packagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);
    QCOMPARE(receivedParts(), (QList<QByteArray>{m_fpga, m_app}));

    // Once the device is back from its restart, another package goes out
    // without a new Connect. The device refuses its first part every time:
    // the rest is not sent and the bar never shows 100; the next package
    // goes through.
    QTRY_COMPARE(restarts.count(), 2); // into the upgrade state, then the normal restart
    sim.clearFrames();
    receivedBefore = sim.receivedFiles().size();
    sim.setVerdicts(QVector<int>(UpgradeProcess::MaxResends + 1, -1).toList());
    upgrade(m_packagePath, Faults::TransferFailed);
    QCOMPARE(f->text("lbNote"), Faults::TransferFailed);
    QVERIFY(f->bar()->value() < 100);
    QCOMPARE(receivedParts(), QVector<QByteArray>(UpgradeProcess::MaxResends + 1, m_fpga).toList());
    disconnectDevice();
    healDevice(packageLine());
    connectDevice();
    sim.clearFrames();
    receivedBefore = sim.receivedFiles().size();
    restarts.clear();
    upgrade(m_packagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);
    QCOMPARE(receivedParts(), (QList<QByteArray>{m_fpga, m_app}));
    QTRY_COMPARE(restarts.count(), 2);

    // A package that cannot be split: the box names it, nothing is sent and
    // the page is back where it was before Upgrade; the next one goes through.
    QByteArray truncated;
    {
        QFile package(m_packagePath);
        QVERIFY(package.open(QIODevice::ReadOnly));
        truncated = package.readAll();
    }
    truncated.truncate(int(sizeof(IMG_HEAD_INFO_EX)) + m_app.size() / 2); // the second part starts past the end
    const QString brokenPath = f->writeFile(BrokenPackageName, truncated);
    sim.clearFrames();
    const QString noteBefore = f->text("lbNote");
    upgrade(brokenPath, QStringLiteral("升级包已损坏或不完整，请检查升级固件是否正确！"));
    QVERIFY(sim.frames().isEmpty());
    QCOMPARE(f->text("lbNote"), noteBefore);
    QCOMPARE(f->bar()->format(), BrokenPackageName);
    QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
    upgrade(m_packagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);

    // A single image whose device vanishes mid-transfer and comes back.
    disconnectDevice();
    healDevice();
    connectDevice();
    Faults::inject(QStringLiteral("vanish 116"), &sim, FastFactor);
    upgrade(m_imagePath, Faults::TransferFailed);
    disconnectDevice();
    healDevice();
    connectDevice();
    upgrade(m_imagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);

    // The user disconnects while the upgrade waits for the rebooting device.
    sim.setRebootDelay(AwayRebootDelayMs);
    f->chooseFile(m_imagePath);
    f->click("btnSelectBinFile");
    f->click("btnUpgrade");
    QCOMPARE(f->bar()->value(), 0); // a new upgrade starts from nothing
    QTRY_VERIFY_WITH_TIMEOUT(f->log.contains(QStringLiteral("waiting for fpv reconnection")), UpgradeTimeoutMs);
    f->boxes.expect(Hint, StillUpgrading, QMessageBox::Yes);
    f->click("btnDisConnDevice");
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->shown("widgetConn"));
    QVERIFY(!f->page->worker()->isSequenceRunning());
    QVERIFY(!f->device->link->SerialPortIsOpen());

    // And the next upgrade succeeds.
    healDevice();
    connectDevice();
    upgrade(m_imagePath, QString());
    QCOMPARE(f->text("lbNote"), Finished);
    QCOMPARE(sim.receivedFiles().last().data, image());
}

QTEST_MAIN(TestBenchWorkflow)
#include "tst_benchworkflow.moc"

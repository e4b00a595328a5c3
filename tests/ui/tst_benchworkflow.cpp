#include "imagesteps.h"
#include "faultinjection.h"
#include "packagebuilder.h"
#include "upgradepage_fixture.h"
#include "upgradeprocess.h"

#include <QPlainTextEdit>
#include <sys/resource.h>

using namespace PageTexts;
Q_DECLARE_METATYPE(Faults::Fault)

namespace {
constexpr int FastFactor = 100;
constexpr int HealthyRebootDelayMs = 150;
constexpr int AwayRebootDelayMs = 2000; // long enough for the user to act meanwhile
constexpr int UpgradeTimeoutMs = 60000;
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img");
const QString PackageName = QStringLiteral("Merlow_R_Sky_1_0_7.img");
const QString BrokenPackageName = QStringLiteral("Merlow_R_Sky_1_0_8.img");

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
    void initTestCase()
    {
        f.reset(new PageFixture);
        QVERIFY(f->startDevice());
        f->device->sim.setRebootDelay(HealthyRebootDelayMs);
        f->device->sim.setPackageFirmware("Merlow_R_Sky_1_0_7"); // what the package's name announces
        f->settingPage.reset(new SettingPage(nullptr));
        f->makePage(f->settingPage.get(), std::make_shared<ScaledClock>(FastFactor));
        m_imagePath = f->writeFile(ImageName, m_image);
        PackageBuilder package;
        package.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
        QVERIFY(package.addPart(IMG_TAREL_APP, m_app) && package.addPart(IMG_TAREL_FPGA, m_fpga));
        m_packagePath = f->writeFile(PackageName, package.bytes());
    }
    void cleanupTestCase() { f.reset(); }

    void fault_endsCleanlyAndTheNextUpgradeSucceeds_data()
    {
        QTest::addColumn<Faults::Fault>("fault");
        QTest::addColumn<QString>("hint");
        // Times the device vanishes while its port is open. A reboot may add one,
        // when the device goes before the program has let its port go.
        QTest::addColumn<int>("vanishes");
        for (const Faults::FaultRow &row : Faults::all())
            QTest::newRow(row.name) << row.fault << row.hint << row.vanishes;
    }

    // Every row runs on the same page and worker as the rows before it.
    void fault_endsCleanlyAndTheNextUpgradeSucceeds()
    {
        QFETCH(Faults::Fault, fault);
        QFETCH(QString, hint);
        QFETCH(int, vanishes);
        reconnect();
        Faults::inject(fault, &f->device->sim, FastFactor);
        f->device->sim.clearFrames();
        LogCapture::clear();

        upgrade(m_imagePath, hint);
        // Only a success goes on to ask the restarted device who it is.
        QCOMPARE(f->device->requestsOf(AR_COMMAND_FIND_DEVICE).isEmpty(), !hint.isEmpty());
        QCoreApplication::processEvents(); // the log view's lines arrive queued
        QVERIFY(f->settingPage->findChild<QPlainTextEdit *>()->toPlainText().contains(Faults::viewLineFor(hint)));
        QVERIFY(!f->device->link->isSerialRecvStarted()); // the worker's reset stopped reception
        if (hint.isEmpty())
            QCOMPARE(m_received.last(), m_image);
        QCOMPARE(f->page->worker()->getUpgStep(), -1);
        QCOMPARE(m_upgrade_device_vid.load(), 0);
        if (vanishes > 0)
            QVERIFY(LogCapture::count(QStringLiteral("serial port lost:")) >= vanishes);

        // Nothing keeps spinning once the upgrade has ended.
        const qint64 cpuBefore = cpuMs();
        QTest::qWait(500);
        QVERIFY2(cpuMs() - cpuBefore < 150, qPrintable(QString::number(cpuMs() - cpuBefore)));

        // The bench goes on: disconnect, the device is healthy again, upgrade.
        reconnect();
        upgrade(m_imagePath);
        QCOMPARE(m_received, QList<QByteArray>{m_image});
    }

    void benchRun_mixedUpgradesEachEndAsExpected()
    {
        DeviceSimulator &sim = f->device->sim;
        // A single image, then a package on the other line.
        reconnect();
        upgrade(m_imagePath);
        reconnect(AR_FPV_BOARD_TYPE_SKY_EX6);
        QSignalSpy restarts(&sim, &DeviceSimulator::rebooted);
        upgrade(m_packagePath);
        QCOMPARE(m_received, (QList<QByteArray>{m_fpga, m_app}));

        // Once the device is back from its restart, another package goes out without a new Connect. The device
        // refuses its first part every time: the rest is not sent and the bar never shows 100; the next package
        // goes through.
        QTRY_COMPARE(restarts.count(), 2); // into the upgrade state, then the normal restart
        sim.setVerdicts(QVector<int>(ImageSteps::MaxResends + 1, -1).toList());
        upgrade(m_packagePath, Faults::TransferFailed);
        QCOMPARE(m_received, QVector<QByteArray>(ImageSteps::MaxResends + 1, m_fpga).toList());
        reconnect(AR_FPV_BOARD_TYPE_SKY_EX6);
        restarts.clear();
        upgrade(m_packagePath);
        QCOMPARE(m_received, (QList<QByteArray>{m_fpga, m_app}));
        QTRY_COMPARE(restarts.count(), 2);

        // A package that cannot be split: the box names it, nothing is sent and
        // the page is back where it was before Upgrade; the next one goes through.
        QByteArray truncated = TestBytes::readFile(m_packagePath);
        truncated.truncate(int(sizeof(IMG_HEAD_INFO_EX)) + m_app.size() / 2); // the second part starts past the end
        const QString brokenPath = f->writeFile(BrokenPackageName, truncated);
        sim.clearFrames();
        const QString noteBefore = f->text("lbNote");
        upgrade(brokenPath, QStringLiteral("升级包已损坏或不完整，请检查升级固件是否正确！"), noteBefore);
        QVERIFY(sim.frames().isEmpty());
        QCOMPARE(f->bar()->format(), BrokenPackageName);
        QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
        upgrade(m_packagePath);
        QTRY_COMPARE(restarts.count(), 4); // its two restarts too, before Connect

        // The user disconnects while a single image's upgrade waits for the rebooting device.
        reconnect();
        sim.setRebootDelay(AwayRebootDelayMs);
        f->choose(m_imagePath);
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
        reconnect();
        upgrade(m_imagePath);
        QCOMPARE(m_received, QList<QByteArray>{m_image});
    }

private:
    // Disconnects when connected, makes the device healthy again under
    // `vendorId` (a package's line or the default), reports it and presses Connect.

    void reconnect(quint16 vendorId = DeviceIdentity().vendorId)
    {
        if (f->shown("widgetUpg")) {
            f->click("btnDisConnDevice");
            QVERIFY(f->shown("widgetConn"));
        }
        DeviceSimulator &sim = f->device->sim;
        Faults::heal(&sim, HealthyRebootDelayMs);
        DeviceIdentity identity;
        identity.vendorId = vendorId;
        sim.setIdentity(identity);
        sim.setVerdicts({});
        QTRY_VERIFY(sim.isPresent());
        f->connectTo(vendorId);
        QVERIFY(f->shown("widgetUpg"));
    }
    // Chooses `path`, presses Upgrade and waits until the page and the worker are idle; `box` is the warning the
    // outcome shows (empty: success), the note and the bar then show that outcome unless `note` says the page went
    // back to what it showed before. The files the device received meanwhile go to m_received.

    void upgrade(const QString &path, const QString &box = QString(), const QString &note = QString())
    {
        const int receivedBefore = f->device->sim.receivedFiles().size();
        f->choose(path);
        QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
        if (!box.isEmpty())
            f->boxes.expect(Warning, box);
        f->click("btnUpgrade");
        QTRY_VERIFY_WITH_TIMEOUT(!f->page->getUpgradeFlag() && !f->page->worker()->isSequenceRunning(), UpgradeTimeoutMs);
        QCoreApplication::processEvents(); // the sequence's last reports, queued before it ended
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->text("lbNote"), !note.isEmpty() ? note : box.isEmpty() ? Verified : box);
        if (note.isEmpty()) // a full bar only for a success
            QCOMPARE(f->bar()->value() == 100, box.isEmpty());
        m_received.clear();
        for (const SimReceivedFile &file : f->device->sim.receivedFiles().mid(receivedBefore))
            m_received.append(file.data);
    }

    std::unique_ptr<PageFixture> f;
    QString m_imagePath;
    QString m_packagePath;
    QByteArray m_image = TestBytes::pattern(5000, 3);
    QByteArray m_app = TestBytes::pattern(3000, 1);
    QByteArray m_fpga = TestBytes::pattern(2000, 2);
    QList<QByteArray> m_received;
};

QTEST_MAIN(TestBenchWorkflow)
#include "tst_benchworkflow.moc"

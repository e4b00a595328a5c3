#include "flashbench.h"
#include "packagebuilder.h"
#include "portfinder.h"

#include <QtTest>

using namespace FlashBench;

Q_DECLARE_METATYPE(SimScript::AfterUpgrade)

// One device upgraded: the events, the sequences, the outcomes.
class TestFlashUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }
    void singleImage_upgradesAndReportsEveryEvent();
    void package_sendsEveryPart();
    void deviceOutcome_data();
    void deviceOutcome();
    void namedPort_data();
    void namedPort();
    void verify_data();
    void verify();

private:
    FlashWorld m_world;
};

void TestFlashUpgrade::singleImage_upgradesAndReportsEveryEvent()
{
    BenchDevice device;
    QVERIFY(device.start());
    const QByteArray image = pattern(20000, 3);
    const QString path = m_world.writeFile(Image, image);
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"} + device.portArguments());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    const QList<SimReceivedFile> files = device.sim.receivedFiles();
    QCOMPARE(files.size(), 1);
    QCOMPARE(files.first().data, image);

    bool parsed = false;
    const QList<QJsonObject> events = run.events(&parsed);
    QVERIFY(parsed);
    const QString port = device.sim.linkPath();
    for (const QJsonObject &event : events) {
        QCOMPARE(string(event, "port"), port);
        if (string(event, "event") != QLatin1String("phase") || string(event, "phase") != QLatin1String("connect"))
            QCOMPARE(string(event, "serial"), QStringLiteral("SN0001"));
    }
    const auto identity = CommandRun::ofType(events, "identity");
    QCOMPARE(identity.size(), 1);
    QCOMPARE(string(identity.first(), "firmware"), QStringLiteral("Merlow_R_Sky_1_0_5"));
    QCOMPARE(string(identity.first(), "hardware"), QStringLiteral("HW_V1.0"));
    QCOMPARE(number(identity.first(), "temperature"), 45);
    QCOMPARE(number(identity.first(), "maxSegment"), 1024);
    const auto rules = CommandRun::ofType(events, "rules");
    QCOMPARE(rules.size(), 1);
    QVERIFY(rules.first().value("accepted").toBool());
    QCOMPARE(string(rules.first(), "sequence"), QStringLiteral("single-image"));

    const auto progress = CommandRun::ofType(events, "progress");
    QVERIFY(!progress.isEmpty());
    qint64 lastBytes = 0;
    for (const QJsonObject &event : progress) {
        QVERIFY(event.value("bytes").toDouble() >= lastBytes); // one file, never resent
        lastBytes = qint64(event.value("bytes").toDouble());
        QCOMPARE(qint64(event.value("total").toDouble()), qint64(image.size()));
        QCOMPARE(number(event, "percent"), int(lastBytes * 100 / image.size()));
        QVERIFY(event.value("rate").toDouble() > 0);
    }
    QCOMPARE(lastBytes, qint64(image.size()));

    const auto statuses = CommandRun::ofType(events, "status");
    QVERIFY(!statuses.isEmpty());
    QCOMPARE(number(statuses.last(), "code"), int(STAT_DONE));
    QCOMPARE(string(statuses.last(), "text"), QStringLiteral("upgrade successfully!"));
    QCOMPARE(string(events.last(), "event"), QStringLiteral("result"));
    QCOMPARE(number(events.last(), "exitCode"), 0);
    QVERIFY(!hasChinese(string(events.last(), "text")));
    QStringList phases;
    for (const QJsonObject &event : CommandRun::ofType(events, "phase"))
        phases.append(string(event, "phase"));
    QCOMPARE(phases, (QStringList{"connect", "restart", "announce", "transfer", "verdict", "device-upgrade"}));
}

void TestFlashUpgrade::package_sendsEveryPart()
{
    DeviceIdentity identity;
    identity.vendorId = AR_FPV_BOARD_TYPE_SKY_EX6; // this line takes packages
    BenchDevice device(identity);
    QVERIFY(device.start());
    const QByteArray app = pattern(3000, 'a'), fpga = pattern(2000, 'f');
    PackageBuilder builder;
    builder.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
    QVERIFY(builder.addPart(IMG_TAREL_APP, app));
    QVERIFY(builder.addPart(IMG_TAREL_FPGA, fpga));
    const QString path = m_world.writeFile(Image, builder.bytes());
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"} + device.portArguments());
    QCOMPARE(run.exitCode, 0);
    const QList<SimReceivedFile> files = device.sim.receivedFiles();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.at(0).data, fpga); // the parts go last first
    QCOMPARE(files.at(1).data, app);
    bool parsed = false;
    const QList<QJsonObject> events = run.events(&parsed);
    QVERIFY(parsed);
    QCOMPARE(string(CommandRun::ofType(events, "rules").value(0), "sequence"), QStringLiteral("package"));
    QCOMPARE(number(CommandRun::ofType(events, "result").value(0), "exitCode"), 0);
}

void TestFlashUpgrade::deviceOutcome_data()
{
    QTest::addColumn<QList<int>>("verdicts");
    QTest::addColumn<int>("failureStatus"); // 0: the default, successful status walk
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("filesSent");
    QTest::newRow("refused, then accepted") << QList<int>{-1} << 0 << 0 << 2;
    QTest::newRow("refused every time") << QList<int>{-1, -1, -1, -1, -1, -1} << 0 << 4 << 6;
    QTest::newRow("numbered failure") << QList<int>{} << int(UPGRATE_ERR_BAD_FILE) << 4 << 1;
}

void TestFlashUpgrade::deviceOutcome()
{
    QFETCH(QList<int>, verdicts);
    QFETCH(int, failureStatus);
    QFETCH(int, exitCode);
    QFETCH(int, filesSent);
    BenchDevice device;
    QVERIFY(device.start());
    device.sim.setVerdicts(verdicts);
    if (failureStatus != 0)
        device.sim.setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, failureStatus}});
    const QString path = m_world.writeFile(Image, pattern(5000, 5));
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"} + device.portArguments());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(device.sim.receivedFiles().size(), filesSent);
    bool parsed = false;
    const QList<QJsonObject> events = run.events(&parsed);
    QVERIFY(parsed);
    const QJsonObject result = CommandRun::ofType(events, "result").value(0);
    QCOMPARE(number(result, "exitCode"), exitCode);
    QVERIFY(!string(result, "text").isEmpty() && !hasChinese(string(result, "text")));
    if (failureStatus != 0) {
        const auto statuses = CommandRun::ofType(events, "status");
        QVERIFY(!statuses.isEmpty());
        QCOMPARE(number(statuses.last(), "code"), failureStatus);
        QCOMPARE(string(statuses.last(), "text"), QStringLiteral("upgrade error: upgrade file is corrupted!"));
    }
    if (exitCode != 0)
        QVERIFY(!run.err.isEmpty()); // the failure for a human, beside the JSON
}

void TestFlashUpgrade::namedPort_data()
{
    QTest::addColumn<int>("vid");             // the named device's
    QTest::addColumn<QStringList>("options"); // beside --port and --vid
    QTest::addColumn<int>("exitCode");
    const int unknown = 4321; // a vendor identifier the program does not recognise
    QTest::newRow("recognised vid") << int(AR_FPV_BOARD_TYPE_GT_SKY) << QStringList{} << 0;
    QTest::newRow("recognised by its manufacturer")
        << unknown << QStringList{"--manufacturer", PortFinder::DeviceManufacturer} << 0;
    QTest::newRow("unknown vid, no manufacturer") << unknown << QStringList{} << 3;
    QTest::newRow("unknown vid, another manufacturer") << unknown << QStringList{"--manufacturer", "acme"} << 3;
}

// The named device is taken when the program recognises it, by vendor
// identifier or by manufacturer. Another recognised device is listed first
// by the system; the link named to A must never take its port, before or
// after A's reboot, though both units have the same vendor identifier.
void TestFlashUpgrade::namedPort()
{
    QFETCH(int, vid);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    DeviceIdentity identity;
    identity.vendorId = quint16(vid);
    BenchDevice a(identity), other;
    QVERIFY(a.start());
    QVERIFY(other.start());
    const auto system = std::make_shared<FixedPortLister>(QList<SerialPortDescription>{
        {other.sim.linkPath(), QString(), other.sim.identity().vendorId}});
    const QString path = m_world.writeFile(Image, pattern(3000, 8));
    const CommandRun run = runCommand(QStringList{"upgrade", path} + a.portArguments() + options, system);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(a.sim.receivedFiles().size(), exitCode == 0 ? 1 : 0);
    QVERIFY(other.sim.frames().isEmpty());
    QCOMPARE(m_upgrade_device_vid.load(), 0); // the window's target is not the command's
}

void TestFlashUpgrade::verify_data()
{
    QTest::addColumn<SimScript::AfterUpgrade>("after");
    QTest::addColumn<bool>("silentAfterRestart");
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("firmwareAfter"); // empty: no answer
    using After = SimScript::AfterUpgrade;
    QTest::newRow("new firmware") << After::RestartWithNewFirmware << false << true << 0 << "Merlow_R_Sky_1_0_6";
    QTest::newRow("new firmware, plain") << After::RestartWithNewFirmware << false << false << 0
                                         << "Merlow_R_Sky_1_0_6";
    QTest::newRow("old firmware") << After::RestartWithOldFirmware << false << true << 6 << "Merlow_R_Sky_1_0_5";
    QTest::newRow("no restart") << After::Stay << false << true << 6 << "Merlow_R_Sky_1_0_5";
    QTest::newRow("no answer after restart") << After::RestartWithNewFirmware << true << true << 6 << "";
}

// After the device's success the command waits for it to restart and checks
// the firmware it reports against the one the file's name announces.
void TestFlashUpgrade::verify()
{
    QFETCH(SimScript::AfterUpgrade, after);
    QFETCH(bool, silentAfterRestart);
    QFETCH(bool, json);
    QFETCH(int, exitCode);
    QFETCH(QString, firmwareAfter);
    BenchDevice device;
    QVERIFY(device.start());
    device.sim.setAfterUpgrade(after);
    if (silentAfterRestart) {
        connect(&device.sim, &DeviceSimulator::rebooting, &device.sim, [&device](const QString &mode) {
            if (mode == QLatin1String("after-upgrade"))
                device.sim.setSilent(true);
        }, Qt::DirectConnection);
    }
    const QString path = m_world.writeFile(Image, pattern(6000, 9));
    const QStringList format = json ? QStringList{"--json"} : QStringList{};
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--verify"} + format + device.portArguments());
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(device.sim.receivedFiles().size(), 1);
    if (!json) {
        QVERIFY2(run.out.contains(device.sim.linkPath() + QStringLiteral(": verified\n")), qPrintable(run.out));
        return;
    }
    bool parsed = false;
    const QList<QJsonObject> events = run.events(&parsed);
    QVERIFY(parsed);
    const QJsonObject result = CommandRun::ofType(events, "result").value(0);
    QCOMPARE(number(result, "exitCode"), exitCode);
    QCOMPARE(result.value("verified").toBool(), exitCode == 0);
    QCOMPARE(string(result, "firmwareAfter"), firmwareAfter);
    QCOMPARE(string(result, "text") == QLatin1String("verified"), exitCode == 0);
    QCOMPARE(string(CommandRun::ofType(events, "phase").last(), "phase"), QStringLiteral("verify"));
    if (exitCode != 0)
        QVERIFY(run.err.contains(device.sim.linkPath()));
}

QTEST_GUILESS_MAIN(TestFlashUpgrade)
#include "tst_flashupgrade.moc"

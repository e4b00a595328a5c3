#include "flashcommand_bench.h"
#include "logcapture.h"
#include "portfinder.h"
#include "packagebuilder.h"

#include <QRegularExpression>
#include <QSemaphore>
#include <QTranslator>
#include <QtTest>

static void initCatalogues()
{
    Q_INIT_RESOURCE(translations);
}

namespace {
const QString Image = QStringLiteral("Merlow_R_Sky_1_0_6.img"); // newer than the simulator's 1_0_5

QByteArray pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 131);
    return bytes;
}

bool hasChinese(const QString &text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(cjk);
}

QString string(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toString();
}

int number(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toInt();
}
} // namespace

class TestFlashCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void usage_data();
    void usage();
    void singleImage_upgradesAndReportsEveryEvent();
    void package_sendsEveryPart();
    void refusedFile_sendsNothing_data();
    void refusedFile_sendsNothing();
    void noDevice_data();
    void noDevice();
    void silentDevice_failsInBoundedTime();
    void deviceOutcome_data();
    void deviceOutcome();
    void twoDevices_oneFailingMidTransfer_theOtherSucceeds();
    void info_and_list_showTheDevice();
    void namedPort_leavesOtherDevicesAlone();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_files;
    QTranslator m_english;
    std::unique_ptr<LogCapture> m_log; // keeps the program's log lines out of the test's output
};

void TestFlashCommand::initTestCase()
{
    m_log.reset(new LogCapture);
    initCatalogues();
    QVERIFY(m_english.load(QStringLiteral(":lang_en.qm")));
    QCoreApplication::installTranslator(&m_english);
    QVERIFY(m_files.isValid());
    QDir::setCurrent(m_files.path()); // no settings file of the user's names a device
}

QString TestFlashCommand::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_files.filePath(name);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

void TestFlashCommand::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("help") << QStringList{"--help"} << 0;
    QTest::newRow("version") << QStringList{"--version"} << 0;
    QTest::newRow("no command") << QStringList{} << 1;
    QTest::newRow("unknown command") << QStringList{"flash"} << 1;
    QTest::newRow("upgrade without a file") << QStringList{"upgrade"} << 1;
    QTest::newRow("list with a file") << QStringList{"list", "x.img"} << 1;
    QTest::newRow("unknown option") << QStringList{"list", "--fast"} << 1;
    QTest::newRow("port without vid") << QStringList{"info", "--port", "/dev/null"} << 1;
    QTest::newRow("vid out of range") << QStringList{"info", "--port", "/dev/null", "--vid", "65536"} << 1;
    QTest::newRow("ports and vids do not pair")
        << QStringList{"info", "--port", "a", "--port", "b", "--port", "c", "--vid", "1", "--vid", "2"} << 1;
}

// Help and version need no device and no display; a usage error says so on
// standard error only.
void TestFlashCommand::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    LogCapture::clear();
    const CommandRun run = runCommand(arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (arguments == QStringList{"--help"}) {
        for (int code = 0; code <= 5; ++code)
            QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral("\\n  %1  \\S").arg(code))),
                     qPrintable(QStringLiteral("exit code %1 is not documented").arg(code)));
        QVERIFY(run.out.contains(QLatin1String("--port")));
        QVERIFY(!run.out.contains(QLatin1String("clock-factor")));
    } else if (arguments == QStringList{"--version"}) {
        QVERIFY(QRegularExpression(QStringLiteral("^tavio-flash \\d+\\.\\d+\\.\\d+\\n$")).match(run.out).hasMatch());
    } else {
        QVERIFY(run.out.isEmpty());
        QVERIFY(!run.err.isEmpty());
    }
}

void TestFlashCommand::singleImage_upgradesAndReportsEveryEvent()
{
    BenchDevice device;
    QVERIFY(device.start());
    const QByteArray image = pattern(20000, 3);
    const QString path = writeFile(Image, image);
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

void TestFlashCommand::package_sendsEveryPart()
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
    const QString path = writeFile(Image, builder.bytes());
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

void TestFlashCommand::refusedFile_sendsNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("deviceAsked"); // the name alone does not settle it
    QTest::newRow("name") << "Merlow-R-Sky-1.0.6.bin" << false;
    QTest::newRow("other device") << "Merlow_R_Gnd_1_0_6.img" << true;
    QTest::newRow("version too low") << "Merlow_R_Sky_1_0_4.img" << true;
    QTest::newRow("unreadable") << "" << false;
}

void TestFlashCommand::refusedFile_sendsNothing()
{
    QFETCH(QString, name);
    QFETCH(bool, deviceAsked);
    BenchDevice device;
    QVERIFY(device.start());
    const QString path = name.isEmpty() ? m_files.filePath(Image + ".missing") : writeFile(name, pattern(4096, 1));
    const CommandRun run = runCommand(QStringList{"upgrade", path} + device.portArguments());
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(device.commands(), deviceAsked ? QList<quint32>{AR_COMMAND_FIND_DEVICE} : QList<quint32>{});
    QVERIFY(device.sim.receivedFiles().isEmpty());
    QCOMPARE(device.sim.rebootCount(), 0);
    const QString told = run.err + run.out;
    QVERIFY(!told.isEmpty());
    QVERIFY2(!hasChinese(told), qPrintable(told));
}

void TestFlashCommand::noDevice_data()
{
    QTest::addColumn<bool>("namePort");
    QTest::newRow("named port absent") << true;
    QTest::newRow("none attached") << false;
}

void TestFlashCommand::noDevice()
{
    QFETCH(bool, namePort);
    const QString path = writeFile(Image, pattern(1024, 2));
    const QStringList port = namePort ? QStringList{"--port", m_files.filePath("absent"), "--vid", "7536"}
                                      : QStringList{};
    const CommandRun run = runCommand(QStringList{"upgrade", path} + port);
    QCOMPARE(run.exitCode, 3);
    QVERIFY(!run.err.isEmpty());
}

// No answer to the first request: the link failure, long before any upgrade limit.
void TestFlashCommand::silentDevice_failsInBoundedTime()
{
    BenchDevice device;
    QVERIFY(device.start());
    device.sim.setSilent(true);
    const QString path = writeFile(Image, pattern(1024, 4));
    QElapsedTimer timer;
    timer.start();
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"} + device.portArguments());
    QCOMPARE(run.exitCode, 5);
    QVERIFY(timer.elapsed() < 60000);
    QVERIFY(device.sim.receivedFiles().isEmpty());
    bool parsed = false;
    const auto results = CommandRun::ofType(run.events(&parsed), "result");
    QVERIFY(parsed);
    QCOMPARE(results.size(), 1);
    QCOMPARE(number(results.first(), "exitCode"), 5);
}

void TestFlashCommand::deviceOutcome_data()
{
    QTest::addColumn<QList<int>>("verdicts");
    QTest::addColumn<int>("failureStatus"); // 0: the default, successful status walk
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("filesSent");
    QTest::newRow("refused, then accepted") << QList<int>{-1} << 0 << 0 << 2;
    QTest::newRow("refused every time") << QList<int>{-1, -1, -1, -1, -1, -1} << 0 << 4 << 6;
    QTest::newRow("numbered failure") << QList<int>{} << int(UPGRATE_ERR_BAD_FILE) << 4 << 1;
}

void TestFlashCommand::deviceOutcome()
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
    const QString path = writeFile(Image, pattern(5000, 5));
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

// Device B stops answering at its fifth data frame (its simulator's thread is
// held there); A, upgraded at the same time, finishes all the same.
void TestFlashCommand::twoDevices_oneFailingMidTransfer_theOtherSucceeds()
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
    const QString path = writeFile(Image, image);
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

void TestFlashCommand::info_and_list_showTheDevice()
{
    BenchDevice device;
    QVERIFY(device.start());
    const CommandRun info = runCommand(QStringList{"info"} + device.portArguments());
    QCOMPARE(info.exitCode, 0);
    QVERIFY(info.out.contains(QLatin1String("SN0001")));
    QVERIFY(info.out.contains(QLatin1String("Merlow_R_Sky_1_0_5")));
    QVERIFY(info.out.contains(QLatin1String("HW_V1.0")));

    const auto attached = std::make_shared<FixedPortLister>(QList<SerialPortDescription>{
        {QStringLiteral("ttyUSB0"), QString(), 1234}, // not a device of ours
        {QStringLiteral("ttyACM0"), QString(), AR_FPV_BOARD_TYPE_GT_GND},
        {QStringLiteral("ttyACM1"), QStringLiteral("rurudir"), 4321}});
    const CommandRun list = runCommand({"list"}, attached);
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(list.out, QStringLiteral("ttyACM0\t7535\tMerlow Gnd\nttyACM1\t4321\tMerlow FPV\n"));
    QCOMPARE(runCommand({"list"}).exitCode, 3);
}

// Another recognised device is listed first by the system; the link named to
// A must never take its port, before or after A's reboot, though both units
// have the same vendor identifier.
void TestFlashCommand::namedPort_leavesOtherDevicesAlone()
{
    BenchDevice a, other;
    QVERIFY(a.start());
    QVERIFY(other.start());
    const auto system = std::make_shared<FixedPortLister>(QList<SerialPortDescription>{
        {other.sim.linkPath(), QString(), other.sim.identity().vendorId}});
    const QString path = writeFile(Image, pattern(3000, 8));
    const CommandRun run = runCommand(QStringList{"upgrade", path} + a.portArguments(), system);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(a.sim.receivedFiles().size(), 1);
    QVERIFY(other.sim.frames().isEmpty());
    QCOMPARE(m_upgrade_device_vid.load(), 0); // the window's target is not the command's
}

QTEST_GUILESS_MAIN(TestFlashCommand)
#include "tst_flashcommand.moc"

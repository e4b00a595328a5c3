#include "flashbench.h"
#include "portfinder.h"

#include <QtTest>

using namespace FlashBench;

// The command line, and the runs that end before an upgrade starts.
class TestFlashCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }
    void usage_data();
    void usage();
    void refusedFile_sendsNothing_data();
    void refusedFile_sendsNothing();
    void noDevice_data();
    void noDevice();
    void silentDevice_failsInBoundedTime();
    void info_and_list_showTheDevice();

private:
    FlashWorld m_world;
};

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
    QTest::newRow("--all with --port") << QStringList{"upgrade", "x.img", "--all", "--port", "a", "--vid", "1"} << 1;
    QTest::newRow("--watch with --all") << QStringList{"upgrade", "x.img", "--watch", "--all"} << 1;
    QTest::newRow("--verify without upgrade") << QStringList{"info", "--verify"} << 1;
    QTest::newRow("--ledger without upgrade") << QStringList{"list", "--ledger", "l.csv"} << 1;
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
        for (int code = 0; code <= 6; ++code)
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
    const QString path = name.isEmpty() ? m_world.path(Image + ".missing") : m_world.writeFile(name, pattern(4096, 1));
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
    const QString path = m_world.writeFile(Image, pattern(1024, 2));
    const QStringList port = namePort ? QStringList{"--port", m_world.path("absent"), "--vid", "7536"}
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
    const QString path = m_world.writeFile(Image, pattern(1024, 4));
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

QTEST_GUILESS_MAIN(TestFlashCommand)
#include "tst_flashcommand.moc"

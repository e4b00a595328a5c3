// The port's life: reboots, unplugging, the link, the executable.

#include "devicesimulator_fixture.h"
#include "protocolframe.h"
#include "simoptions.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>

using namespace SimTestData;

namespace {
constexpr int ShortRebootMs = 300;
constexpr int SlowReaderMs = 100;
} // namespace

void TestDeviceSimulator::reboot_portDropsAndReturnsOnNewPty_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::newRow("clean") << QByteArray("clean");
    QTest::newRow("normal") << QByteArray("normal");
}

void TestDeviceSimulator::reboot_portDropsAndReturnsOnNewPty()
{
    QFETCH(QByteArray, mode);
    const QString link = m_dir->filePath(QStringLiteral("device"));
    m_client.reset();
    QVERIFY(m_sim->start(link));
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim->slavePath());
    m_sim->setRebootDelay(ShortRebootMs);
    QSignalSpy back(m_sim.get(), &DeviceSimulator::rebooted);
    SimClient before(link);
    QVERIFY(before.isOpen());

    // A slow reader still gets the acknowledgement: the device goes only once it is read.
    before.send(AR_COMMAND_GET_ACTIVE, 5, rebootRequest(mode.constData()));
    QThread::msleep(SlowReaderMs);
    QCOMPARE(before.receive(1).size(), 1);
    QTRY_VERIFY(before.port().error() != QSerialPort::NoError);
    before.port().close();
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!m_sim->isPresent());
    QCOMPARE(m_sim->rebootModes(), QStringList{QString::fromLatin1(mode)});
    QCOMPARE(m_sim->rebootCount(), 1);

    QTRY_COMPARE(back.size(), 1);
    QVERIFY(m_sim->isPresent());
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim->slavePath());
    SimClient after(link);
    QVERIFY(after.isOpen());
    const auto reply = after.request(AR_COMMAND_FIND_DEVICE, 6);
    QVERIFY(reply);
    QCOMPARE(QByteArray(recordOf<ar_device_info>(*reply).serialNumber),
             DeviceIdentity().serialNumber);
}

void TestDeviceSimulator::reboot_whenDisabled_onlyAcknowledges()
{
    m_sim->setRebootOnRequest(false);
    QVERIFY(m_client->request(AR_COMMAND_GET_ACTIVE, 1, rebootRequest("clean")));
    QVERIFY(m_client->request(AR_COMMAND_FIND_DEVICE, 2));
    QCOMPARE(m_sim->rebootCount(), 0);
    QVERIFY(m_sim->isPresent());
}

void TestDeviceSimulator::vanish_portGoneUntilReappear()
{
    const QString link = m_dir->filePath(QStringLiteral("device"));
    m_client.reset();
    QVERIFY(m_sim->start(link));
    SimClient before(link);
    QVERIFY(before.request(AR_COMMAND_FIND_DEVICE, 1));

    m_sim->vanish();
    QVERIFY(!m_sim->isPresent());
    QVERIFY(m_sim->slavePath().isEmpty());
    QVERIFY(!QFileInfo(link).isSymLink());
    QTRY_VERIFY(before.port().error() != QSerialPort::NoError);
    before.port().close();
    QTest::qWait(ShortRebootMs);
    QVERIFY(!m_sim->isPresent());

    m_sim->reappear();
    QVERIFY(m_sim->isPresent());
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim->slavePath());
    SimClient after(link);
    QVERIFY(after.request(AR_COMMAND_FIND_DEVICE, 2));
    QCOMPARE(m_sim->rebootCount(), 0);
}

void TestDeviceSimulator::start_refusesLinkPathTakenByFile()
{
    const QString path = m_dir->filePath(QStringLiteral("taken"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();

    DeviceSimulator sim;
    QVERIFY(!sim.start(path));
    QVERIFY(!sim.errorString().isEmpty());
    QVERIFY(!sim.isPresent());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestDeviceSimulator::start_replacesStaleLink()
{
    const QString path = m_dir->filePath(QStringLiteral("stale"));
    QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("gone")), path));
    {
        DeviceSimulator sim;
        QVERIFY(sim.start(path));
        QCOMPARE(QFileInfo(path).symLinkTarget(), sim.slavePath());
    }
    QVERIFY(!QFileInfo(path).isSymLink());
}

void TestDeviceSimulator::commandLine_readsValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("temp");
    QTest::addColumn<QByteArray>("firmware");
    QTest::newRow("defaults") << QStringList() << 7536 << 45 << QByteArray("Merlow_R_Sky_1_0_5");
    QTest::newRow("hex vid") << QStringList{"--vid", "0x1D6F"} << 7535 << 45
                             << QByteArray("Merlow_R_Sky_1_0_5");
    QTest::newRow("leading zero is decimal")
        << QStringList{"--vid", "07533"} << 7533 << 45 << QByteArray("Merlow_R_Sky_1_0_5");
    QTest::newRow("below freezing")
        << QStringList{"--temp", "-12", "--firmware", "FW_9"} << 7536 << -12 << QByteArray("FW_9");
}

void TestDeviceSimulator::commandLine_readsValues()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, vid);
    QFETCH(int, temp);
    QFETCH(QByteArray, firmware);
    SimCommandLine commandLine;
    QCOMPARE(commandLine.parse(QStringList{"sim"} + arguments), SimCommandLine::Outcome::Run);
    QCOMPARE(int(commandLine.options().identity.vendorId), vid);
    QCOMPARE(commandLine.options().identity.cpuTemp, temp);
    QCOMPARE(commandLine.options().identity.firmware, firmware);
}

void TestDeviceSimulator::commandLine_rejectsBadValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("vid beyond 16 bits") << QStringList{"--vid", "70000"};
    QTest::newRow("vid not a number") << QStringList{"--vid", "sky"};
    QTest::newRow("zero segment size") << QStringList{"--max-size", "0"};
    QTest::newRow("negative reboot delay") << QStringList{"--reboot-delay", "-5"};
    QTest::newRow("serial too long") << QStringList{"--serial", QString(32, 'S')};
    QTest::newRow("unknown option") << QStringList{"--baud", "9600"};
    QTest::newRow("stray argument") << QStringList{"/dev/ttyACM0"};
}

void TestDeviceSimulator::commandLine_rejectsBadValues()
{
    QFETCH(QStringList, arguments);
    SimCommandLine commandLine;
    QCOMPARE(commandLine.parse(QStringList{"sim"} + arguments), SimCommandLine::Outcome::Error);
    QVERIFY(!commandLine.errorText().isEmpty());
}

void TestDeviceSimulator::executable_printsFactsAndAnswersOnLink()
{
    const QDir buildRoot(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    const QString program = buildRoot.filePath(QStringLiteral("tavio-device-sim"));
    if (!QFileInfo(program).isExecutable())
        QSKIP("tavio-device-sim is not built");
    const QString link = m_dir->filePath(QStringLiteral("exe-device"));
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    process.start(program, {"--link", link, "--serial", "SN-EXE", "--verbose"});
    QVERIFY(process.waitForStarted());
    QByteArray output;
    const auto printed = [&](const QByteArray &line) {
        output += process.readAllStandardOutput();
        return output.contains(line + '\n');
    };
    QTRY_VERIFY2(printed("serial: SN-EXE"), output.constData());

    {
        SimClient client(link);
        QVERIFY(client.isOpen());
        const auto reply = client.request(AR_COMMAND_FIND_DEVICE, 3);
        QVERIFY(reply);
        QCOMPARE(QByteArray(recordOf<ar_device_info>(*reply).serialNumber), QByteArray("SN-EXE"));
    }
    QTRY_VERIFY2(printed("frame: command 60 seq 3 retry 0 length 0 crc ok"), output.constData());
    process.terminate();
    QVERIFY(process.waitForFinished());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("log.txt"))));
}

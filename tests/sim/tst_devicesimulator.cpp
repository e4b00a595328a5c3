// The simulator's own behaviour that the upgrade and link suites do not
// drive already (they use its faults and its file transfer): its command
// line and executable, the pty and its link coming and going, the reboot
// hand-over, and the repeated file end that keeps request counts
// independent of scheduling.

#include "devicesimulator.h"
#include "devicesimulator_client.h"
#include "simoptions.h"
#include "testbytes.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

using namespace SimTestData;

namespace {
constexpr int ShortRebootMs = 300;
constexpr int SlowReaderMs = 100;
} // namespace

// Each test gets a fresh simulator on a fresh pty and a client port open on it.
class TestDeviceSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void scriptedVerdicts_repeatedFileEndKeepsItsVerdict();

    void reboot_portDropsOnceReadAndReturnsOnNewPty();
    void reboot_whenDisabled_onlyAcknowledges();
    void vanish_portGoneUntilReappear();
    void start_refusesLinkPathTakenByFile();
    void start_replacesStaleLink();

    void commandLine_readsValues_data();
    void commandLine_readsValues();
    void commandLine_rejectsBadValues_data();
    void commandLine_rejectsBadValues();
    void executable_printsFactsAndAnswersOnLink();

private:
    // Sends 115, the data, then 117; returns the 117 reply.
    std::optional<ReceivedFrame> transferFile(const QByteArray &fileStartPayload, const QByteArray &data);
    // Restarts the simulator with a link at a path of the test's own.
    QString startWithLink();

    quint32 m_seq = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DeviceSimulator> m_sim;
    std::unique_ptr<SimClient> m_client;
};

void TestDeviceSimulator::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<DeviceSimulator>();
    QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
    m_client = std::make_unique<SimClient>(m_sim->slavePath());
    QVERIFY2(m_client->isOpen(), qPrintable(m_client->port().errorString()));
}

void TestDeviceSimulator::cleanup()
{
    m_client.reset();
    m_sim.reset();
    m_dir.reset();
}

std::optional<ReceivedFrame> TestDeviceSimulator::transferFile(const QByteArray &fileStartPayload,
                                                               const QByteArray &data)
{
    if (!m_client->request(AR_CMD_SENDFILE_START, ++m_seq, fileStartPayload)
        || !m_client->request(AR_CMD_SENDFILE_DATA, ++m_seq, data))
        return std::nullopt;
    return m_client->request(AR_CMD_SENDFILE_END, ++m_seq);
}

QString TestDeviceSimulator::startWithLink()
{
    const QString link = m_dir->filePath(QStringLiteral("device"));
    m_client.reset();
    return m_sim->start(link) ? link : QString();
}

// A file end sent again (its acknowledgement came late) is answered with the
// verdict already given: it takes no scripted verdict and is no new file.
void TestDeviceSimulator::scriptedVerdicts_repeatedFileEndKeepsItsVerdict()
{
    const QByteArray data = TestBytes::pattern(64);
    const QByteArray good = fileStart(md5Hex(data), data.size());
    m_sim->setVerdicts({Refused, UPGRATE_ERR_BAD_FILE});

    auto end = transferFile(good, data);
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), Refused);
    m_client->send(AR_CMD_SENDFILE_END, m_seq, QByteArray(), 1);
    const QList<ReceivedFrame> again = m_client->receive(1);
    QCOMPARE(again.size(), 1);
    QCOMPARE(replyStatus(again.first()), Refused);
    QCOMPARE(m_sim->receivedFiles().size(), 1);

    end = transferFile(good, data);
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), int(UPGRATE_ERR_BAD_FILE));
    // The script is used up: the checksum decides again.
    end = transferFile(fileStart(md5Hex("other"), data.size()), data);
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), Refused);
    end = transferFile(good, data);
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), 0);
    QCOMPARE(m_sim->receivedFiles().last().data, data);
}

void TestDeviceSimulator::reboot_portDropsOnceReadAndReturnsOnNewPty()
{
    const QString link = startWithLink();
    QVERIFY(!link.isEmpty());
    m_sim->setRebootDelay(ShortRebootMs);
    QSignalSpy back(m_sim.get(), &DeviceSimulator::rebooted);
    SimClient before(link);
    QVERIFY(before.isOpen());

    // A slow reader still gets the acknowledgement: the device goes only once it is read.
    before.send(AR_COMMAND_GET_ACTIVE, 5, rebootRequest("clean"));
    QThread::msleep(SlowReaderMs);
    QCOMPARE(before.receive(1).size(), 1);
    QTRY_VERIFY(before.port().error() != QSerialPort::NoError);
    before.port().close();
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(m_sim->rebootModes(), QStringList{"clean"});

    QTRY_COMPARE(back.size(), 1);
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_sim->slavePath());
    SimClient after(link);
    QVERIFY(after.request(AR_COMMAND_FIND_DEVICE, 6));
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
    const QString link = startWithLink();
    QVERIFY(!link.isEmpty());
    SimClient before(link);
    QVERIFY(before.request(AR_COMMAND_FIND_DEVICE, 1));

    m_sim->vanish();
    QVERIFY(!m_sim->isPresent());
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

QTEST_MAIN(TestDeviceSimulator)
#include "tst_devicesimulator.moc"

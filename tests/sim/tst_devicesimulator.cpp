// The simulator's own behaviour that the link and upgrade suites do not drive already (they use its replies,
// reboots, vanishing and return, silence, refusals and scripts): its command line and executable, the link it keeps
// to its pty, and the repeated file end that keeps their request counts independent of scheduling.

#include "fixedportlister.h"
#include "logcapture.h"
#include "protocolframe.h"
#include "simoptions.h"
#include "simulateddevice.h"
#include "testbytes.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(SimScript::AfterUpgrade)
Q_DECLARE_METATYPE(LinkModel)

namespace {
const QByteArray DefaultFirmware("Merlow_R_Sky_1_0_5"); // the simulator's unless told otherwise

// One transmission of a request, answered within a wait only a fault outlasts.
qint32 request(UsbVirtualSerial &link, quint32 command, QByteArray payload = QByteArray())
{
    constexpr unsigned AnswerWaitMs = 10000;
    return link.commandSerialSend(command, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                  payload.isNull() ? nullptr : payload.data(), unsigned(payload.size()), 1,
                                  AnswerWaitMs);
}
} // namespace

class TestDeviceSimulator : public QObject
{
    Q_OBJECT

private slots:
    // A file end sent again (its acknowledgement came late) is answered with the
    // verdict already given: it takes no scripted verdict and is no new file.
    void repeatedFileEnd_keepsItsVerdict()
    {
        LogCapture log; // the link's own log lines
        SimulatedDevice device;
        QVERIFY(device.start() && device.open());
        QObject receiver; // the verdicts arrive queued, from the port's thread
        QList<int> verdicts;
        connect(device.link.get(), &UsbVirtualSerial::sig_receiveDateInfo, &receiver,
                [&verdicts](int status) { verdicts.append(status); });
        device.sim.setVerdicts({-1, UPGRATE_ERR_BAD_FILE});
        QCOMPARE(request(*device.link, AR_CMD_SENDFILE_END), 0);
        QByteArray again = ProtocolFrame::encode(AR_CMD_SENDFILE_END, AR_MSGTYPE_REQUEST, 0, 1);
        QCOMPARE(device.link->SerialSend(again.data(), again.size()), qint64(again.size()));
        QCOMPARE(request(*device.link, AR_CMD_SENDFILE_END), 0);
        QTRY_COMPARE(verdicts, (QList<int>{-1, -1, UPGRATE_ERR_BAD_FILE}));
        QCOMPARE(device.sim.receivedFiles().size(), 2);
    }

    void fileEnd_acceptsOnlyTheAnnouncedFile_data()
    {
        QTest::addColumn<QByteArray>("announced");
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::addColumn<int>("verdict");
        const QByteArray file = TestBytes::pattern(3000, 1);
        QTest::newRow("announced bytes, two frames") << file << QList<QByteArray>{file.left(1000), file.mid(1000)} << 0;
        QTest::newRow("other bytes of the announced length") << file << QList<QByteArray>{TestBytes::pattern(3000, 2)}
                                                             << -1;
        QTest::newRow("one byte short") << file << QList<QByteArray>{file.left(2999)} << -1;
    }

    // The device checks what it received against the announced length and MD5:
    // every upgrade test relies on it to notice a file corrupted on its way.
    void fileEnd_acceptsOnlyTheAnnouncedFile()
    {
        QFETCH(QByteArray, announced);
        QFETCH(QList<QByteArray>, frames);
        QFETCH(int, verdict);
        LogCapture log; // the link's own log lines
        SimulatedDevice device;
        QVERIFY(device.start() && device.open());
        ar_file_info info{};
        qstrncpy(info.MD5, QCryptographicHash::hash(announced, QCryptographicHash::Md5).toHex().constData(),
                 sizeof(info.MD5));
        info.length = announced.size();
        QCOMPARE(request(*device.link, AR_CMD_SENDFILE_START, ProtocolFrame::recordBytes(info)), 0);
        for (const QByteArray &frame : frames)
            QCOMPARE(request(*device.link, AR_CMD_SENDFILE_DATA, frame), 0);
        QCOMPARE(request(*device.link, AR_CMD_SENDFILE_END), 0);
        QCOMPARE(device.sim.receivedFiles().size(), 1);
        QCOMPARE(device.sim.receivedFiles().first().verdict, verdict);
    }

    // A file at the link path is left alone and the start refused; a link left
    // from an earlier run is replaced, and removed with the simulator.
    void start_keepsAFileButReplacesAStaleLink()
    {
        const QString taken = m_dir.filePath(QStringLiteral("taken"));
        QVERIFY(TestBytes::writeFile(taken, "keep me"));
        DeviceSimulator refused;
        QVERIFY(!refused.start(taken));
        QVERIFY(!refused.errorString().isEmpty());
        QVERIFY(!refused.isPresent());
        QCOMPARE(TestBytes::readFile(taken), QByteArray("keep me"));

        const QString stale = m_dir.filePath(QStringLiteral("stale"));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("gone")), stale));
        {
            DeviceSimulator sim;
            QVERIFY(sim.start(stale));
            QCOMPARE(QFileInfo(stale).symLinkTarget(), sim.slavePath());
        }
        QVERIFY(!QFileInfo(stale).isSymLink());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("vid"); // -1: the command line is refused
        QTest::addColumn<int>("temp");
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<SimScript::AfterUpgrade>("after");
        QTest::addColumn<LinkModel>("link");
        using After = SimScript::AfterUpgrade;
        const auto row = [&](const char *name, const QStringList &arguments, int vid = 7536, int temp = 45,
                             const QByteArray &fw = DefaultFirmware, After after = After::Stay,
                             LinkModel link = LinkModel::none()) {
            QTest::newRow(name) << arguments << vid << temp << fw << after << link;
        };
        const auto refused = [&](const char *name, const QStringList &arguments) { row(name, arguments, -1); };
        row("defaults", {});
        row("hex vid", {"--vid", "0x1D6F"}, 7535);
        row("below freezing", {"--temp", "-12", "--firmware", "FW_9"}, 7536, -12, "FW_9");
        row("after upgrade: new", {"--after-upgrade", "new", "--package-firmware", "Merlow_R_Sky_1_0_7"}, 7536, 45,
            DefaultFirmware, After::RestartWithNewFirmware);
        row("after upgrade: old", {"--after-upgrade", "old"}, 7536, 45, DefaultFirmware, After::RestartWithOldFirmware);
        row("link: full speed", {"--link-model", "full-speed"}, 7536, 45, DefaultFirmware, After::Stay, {500, 1000000});
        row("link: high speed, latency set", {"--link-latency-us", "200", "--link-model", "high-speed"}, 7536, 45,
            DefaultFirmware, After::Stay, {200, 30000000});
        row("link: rate alone", {"--link-bandwidth", "5000"}, 7536, 45, DefaultFirmware, After::Stay, {0, 5000});
        refused("vid beyond 16 bits", {"--vid", "70000"});
        refused("vid not a number", {"--vid", "sky"});
        refused("zero segment size", {"--max-size", "0"});
        refused("negative reboot delay", {"--reboot-delay", "-5"});
        refused("serial too long", {"--serial", QString(32, 'S')});
        refused("unknown option", {"--baud", "9600"});
        refused("stray argument", {"/dev/ttyACM0"});
        refused("after upgrade: unknown word", {"--after-upgrade", "NEW"});
        refused("package firmware too long", {"--package-firmware", QString(64, 'F')});
        refused("unknown link model", {"--link-model", "super-speed"});
        refused("negative link latency", {"--link-latency-us", "-1"});
    }

    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, vid);
        QFETCH(int, temp);
        QFETCH(QByteArray, firmware);
        QFETCH(SimScript::AfterUpgrade, after);
        QFETCH(LinkModel, link);
        SimCommandLine commandLine;
        const SimCommandLine::Outcome outcome = commandLine.parse(QStringList{"sim"} + arguments);
        QCOMPARE(commandLine.errorText().isEmpty(), vid >= 0);
        QCOMPARE(outcome, vid < 0 ? SimCommandLine::Outcome::Error : SimCommandLine::Outcome::Run);
        if (vid < 0)
            return;
        const SimOptions &options = commandLine.options();
        QCOMPARE(int(options.identity.vendorId), vid);
        QCOMPARE(options.identity.cpuTemp, temp);
        QCOMPARE(options.identity.firmware, firmware);
        QCOMPARE(options.afterUpgrade, after);
        QCOMPARE(options.linkModel.oneWayLatencyUs, link.oneWayLatencyUs);
        QCOMPARE(options.linkModel.bytesPerSecond, link.bytesPerSecond);
    }

    void executable_printsFactsAndAnswersOnLink()
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../tavio-device-sim");
        if (!QFileInfo(program).isExecutable())
            QSKIP("tavio-device-sim is not built");
        const QString link = m_dir.filePath(QStringLiteral("exe-device"));
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(program, {"--link", link, "--serial", "SN-EXE", "--verbose"});
        QVERIFY(process.waitForStarted());
        QByteArray output;
        const auto printed = [&](const QByteArray &line) {
            output += process.readAllStandardOutput();
            return output.contains(line + '\n');
        };
        QTRY_VERIFY2(printed("serial: SN-EXE"), output.constData());

        {
            LogCapture log; // the link's own log lines
            UsbVirtualSerial serial(std::make_shared<FixedPortLister>());
            QVERIFY(serial.openSerialPort(link));
            serial.startSerialRecv();
            QCOMPARE(request(serial, AR_COMMAND_FIND_DEVICE), 0);
            char firmware[64], serialNumber[32], hardware[32];
            int temperature = 0;
            serial.getDeviceInfo(firmware, serialNumber, hardware, &temperature);
            QCOMPARE(QByteArray(serialNumber), QByteArray("SN-EXE"));
        }
        QTRY_VERIFY2(printed("frame: command 60 seq 0 retry 0 length 0 crc ok"), output.constData());
        process.terminate();
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("log.txt"))));
    }
private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestDeviceSimulator)
#include "tst_devicesimulator.moc"

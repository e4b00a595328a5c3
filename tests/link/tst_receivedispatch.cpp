#include "deviceconfig.h"
#include "fixedportlister.h"
#include "logcapture.h"
#include "portoptions.h"
#include "protocolframe.h"
#include "pseudoterminal.h"
#include "usbcheck.h"
#include "usbvirtualserial.h"

#include <QCommandLineParser>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {
enum class Ack { Positive, Negative, None };
constexpr int RefusalWaitMs = 10000; // a refusal ends the wait long before this
constexpr int FloodBytes = 8 * 1024 * 1024;
constexpr int UnreadLimit = 1024 * 1024; // far above what a pty holds, far below the flood
constexpr int ArrivalWaitMs = 20000;      // only a fault waits this long

// Writes `bytes` to the pty's device end, waiting whenever the port has not
// taken the last ones yet; false when the port stopped taking them.
bool writeAll(int fd, const QByteArray &bytes)
{
    for (int done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, ArrivalWaitMs) <= 0)
            return false;
    }
    return true;
}

template <typename Record>
QByteArray reply(quint32 command, quint32 seq, const Record &record, quint16 type = AR_MSGTYPE_ACK)
{
    return ProtocolFrame::encode(command, type, seq, 0, ProtocolFrame::recordBytes(record));
}

QByteArray plainAck(quint32 command, quint32 seq)
{
    return ProtocolFrame::encode(command, AR_MSGTYPE_ACK, seq, 0);
}

ar_device_info deviceInfo()
{
    ar_device_info info{};
    info.receiveMaxSize = 10240;
    info.cputemp = 47;
    qstrncpy(info.firmwareInfo, "Merlow_R_Sky_1_0_5", sizeof(info.firmwareInfo));
    qstrncpy(info.serialNumber, "SN42", sizeof(info.serialNumber));
    qstrncpy(info.hardwareVersion, "HW2", sizeof(info.hardwareVersion));
    return info;
}
} // namespace

Q_DECLARE_METATYPE(Ack)
Q_DECLARE_METATYPE(SerialPortDescription)
using Ports = QList<SerialPortDescription>;

// The link's side of the port: finding it, then what it does with the bytes it receives.
class TestReceiveDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_dir.path())); }
    void init()
    {
        m_log.reset(new LogCapture);
        m_link.reset(new UsbVirtualSerial(std::make_shared<FixedPortLister>()));
    }
    void cleanup()
    {
        m_link.reset();
        m_log.reset();
        m_upgrade_device_vid = 0;
        QFile::remove(QStringLiteral("setting.ini"));
    }

    void portSearch_firstMatchWins_data()
    {
        QTest::addColumn<Ports>("ports");
        QTest::addColumn<int>("upgradeVid"); // 0: any device (Connect), else after a reboot
        QTest::addColumn<QString>("found");
        QTest::newRow("manufacturer, then vendor") << Ports{{"ttyA", "rurudir", 1}, {"ttyB", "x", 7535}} << 0 << "ttyA";
        QTest::newRow("vendor, then manufacturer") << Ports{{"ttyB", "x", 7535}, {"ttyA", "rurudir", 1}} << 0 << "ttyB";
        QTest::newRow("7530 is not a device") << Ports{{"ttyA", "x", 7530}} << 0 << "";
        QTest::newRow("7531 is the first device") << Ports{{"ttyA", "x", 7531}} << 0 << "ttyA";
        QTest::newRow("7543 is the last device") << Ports{{"ttyA", "x", 7543}} << 0 << "ttyA";
        QTest::newRow("7544 is not a device") << Ports{{"ttyA", "x", 7544}} << 0 << "";
        QTest::newRow("manufacturer is case-sensitive") << Ports{{"ttyA", "Rurudir", 1}} << 0 << "";
        QTest::newRow("unrecognised ports passed over") << Ports{{"ttyS0", "", 0}, {"ttyC", "x", 7540}} << 0 << "ttyC";
        const Ports two{{"ttyA", "rurudir", 7531}, {"ttyB", "", 7536}};
        QTest::newRow("after reboot: the upgraded vendor only") << two << 7536 << "ttyB";
        QTest::newRow("after reboot: a vendor not attached") << two << 7540 << "";
    }

    void portSearch_firstMatchWins()
    {
        QFETCH(Ports, ports);
        QFETCH(int, upgradeVid);
        QFETCH(QString, found);
        UsbVirtualSerial link(std::make_shared<FixedPortLister>(ports));
        m_upgrade_device_vid = upgradeVid;
        QCOMPARE(link.searchUsbVirtualSerialPort(upgradeVid == 0), found);
        if (upgradeVid == 0) // no upgrade running: the search after a reboot finds nothing
            QCOMPARE(link.searchUsbVirtualSerialPort(false), QString());
    }

    void presence_reportsAndRemembersTheVendor_data()
    {
        QTest::addColumn<Ports>("ports");
        QTest::addColumn<int>("knownVid");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("remembered");
        QTest::newRow("no device") << Ports{} << 7532 << 0 << 7532;
        QTest::newRow("new device") << Ports{{"ttyA", "", 7536}} << 0 << 7536 << 7536;
        QTest::newRow("known device keeps its vendor") << Ports{{"ttyA", "", 7536}} << 7532 << 7532 << 7532;
        QTest::newRow("manufacturer match: its vendor") << Ports{{"ttyA", "rurudir", 7000}} << 7532 << 7000 << 7000;
        QTest::newRow("other ports are ignored") << Ports{{"ttyS0", "", 0x0403}} << 0 << 0 << 0;
    }

    void presence_reportsAndRemembersTheVendor()
    {
        QFETCH(Ports, ports);
        QFETCH(int, knownVid);
        QFETCH(int, reported);
        QFETCH(int, remembered);
        UsbVirtualSerial link(std::make_shared<FixedPortLister>(ports));
        link.set_usb_vid(knownVid);
        QCOMPARE(int(link.searchUsbDevice()), reported);
        QCOMPARE(link.get_usb_vid(), remembered);
    }

    // Sessions looking for their devices at once share one listing of the
    // system's ports while it is fresh; a stale one is made again.
    void sessionsLookingAtOnce_shareOneListing_data()
    {
        QTest::addColumn<int>("lifetimeMs");
        QTest::addColumn<int>("listings");
        QTest::newRow("fresh: one listing for all") << 3600000 << 1;
        QTest::newRow("stale at once: a listing each") << 0 << SimultaneousSessions;
    }

    void sessionsLookingAtOnce_shareOneListing()
    {
        QFETCH(int, lifetimeMs);
        QFETCH(int, listings);
        const auto system = std::make_shared<FixedPortLister>(Ports{{"ttyS0", "", 0}, {"ttyACM0", "", 7536}});
        const auto shared = std::make_shared<RecentPortLister>(system, lifetimeMs);
        QVector<QString> found(SimultaneousSessions);
        std::vector<std::thread> sessions;
        for (QString &port : found)
            sessions.emplace_back([&shared, &port] { port = PortFinder(shared).findPort(true); });
        for (std::thread &session : sessions)
            session.join();
        QCOMPARE(system->listings(), listings);
        QCOMPARE(found, QVector<QString>(SimultaneousSessions, QStringLiteral("ttyACM0")));
    }

    // A port given on the command line is reported while its path exists; a
    // second start keeps the one timer, and a stopped poller reports nothing.
    void poller_followsAPortGivenOnTheCommandLine()
    {
        const QString target = m_dir.filePath(QStringLiteral("pty-target"));
        const QString link = m_dir.filePath(QStringLiteral("device-link"));
        QFile(target).open(QIODevice::WriteOnly);
        auto ports = std::make_shared<ExtraPortLister>(std::make_shared<FixedPortLister>(),
                                                       SerialPortDescription{link, QString(), 7536});
        UsbVirtualSerial serial(ports);
        UsbCheck poller(&serial);
        QSignalSpy reports(&poller, &UsbCheck::deviceDetected);
        poller.startDetection();
        poller.startDetection();

        QTRY_VERIFY(!reports.isEmpty());
        QCOMPARE(reports.last().first().value<quint16>(), quint16(0));
        QVERIFY(QFile::link(target, link));
        QTRY_COMPARE(reports.last().first().value<quint16>(), quint16(7536));
        QCOMPARE(serial.searchUsbVirtualSerialPort(true), link);
        QVERIFY(QFile::remove(link));
        QTRY_COMPARE(reports.last().first().value<quint16>(), quint16(0));
        poller.stopDetection();
        const int stopped = reports.count();
        QTest::qWait(3 * UsbCheck::PollIntervalMs);
        QCOMPARE(reports.count(), stopped);
    }

    void namedPort_isLookedAtAlone_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("path"); // else a bare name
        QTest::addColumn<bool>("present");
        QTest::newRow("a path") << "pty-target" << true << true;
        QTest::newRow("a path not there") << "no-such-port" << true << false;
        QTest::newRow("a bare name, below /dev") << "null" << false << true;
        QTest::newRow("a bare name not below /dev") << "tavio-no-such-port" << false << false;
    }

    // A port named by the user is found by its device file, after a restart
    // too, without listing the system's ports (thousands of files opened).
    void namedPort_isLookedAtAlone()
    {
        QFETCH(QString, name);
        QFETCH(bool, path);
        QFETCH(bool, present);
        QFile(m_dir.filePath(QStringLiteral("pty-target"))).open(QIODevice::WriteOnly);
        const QString portName = path ? m_dir.filePath(name) : name;
        const auto system = std::make_shared<FixedPortLister>(Ports{{"ttyS0", "", 0}});
        const ExtraPortLister named(std::make_shared<RecentPortLister>(system), {portName, QString(), 7536});
        QCOMPARE(named.portsNamed(portName).size(), present ? 1 : 0);
        QCOMPARE(named.isPresent(portName), present);
        QCOMPARE(system->listings(), 0);
    }

    void deviceName_isLookedUpUnderLowerCaseHexKeys_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("key");
        QTest::newRow("first board type") << 7531 << "0x1d6b";
        QTest::newRow("small identifier is zero-padded") << 10 << "0x000a";
        QTest::newRow("largest identifier") << 0xFFFF << "0xffff";
    }

    void deviceName_isLookedUpUnderLowerCaseHexKeys()
    {
        QFETCH(int, vid);
        QFETCH(QString, key);
        QCOMPARE(DeviceConfig().getDeviceName(quint16(vid)), QString()); // no settings file yet
        QVERIFY(!QFile::exists(QStringLiteral("setting.ini")));
        {
            QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
            settings.beginGroup(QStringLiteral("Devices Name"));
            settings.setValue(key, QStringLiteral("Bench unit"));
        }
        DeviceConfig config;
        QCOMPARE(config.getDeviceName(quint16(vid)), QStringLiteral("Bench unit"));
        QCOMPARE(config.getDeviceName(quint16(vid + 1)), QString());
    }

    void openFailure_isReportedAndLeavesThePortClosed()
    {
        UsbVirtualSerial &link = *m_link;
        QVERIFY(!link.openSerialPort(m_dir.filePath(QStringLiteral("no-such-port"))));
        QVERIFY(!link.SerialPortIsOpen());
        link.closeSerialPort(); // closing an unopened port is harmless
        // A header that cannot be written ends the request at once, untransmitted.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(link.commandSerialSend(AR_COMMAND_FIND_DEVICE, 1, 2, 0, nullptr, 0, 5, 2000), -1);
        QVERIFY(timer.elapsed() < 5000); // five transmissions would take 10 s
    }

    void portOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("vid");
        QTest::newRow("none") << QStringList{} << true << -1;
        QTest::newRow("decimal") << QStringList{"--port", "P", "--vid", "7536"} << true << 7536;
        QTest::newRow("hex") << QStringList{"--port", "P", "--vid", "0x1D70"} << true << 7536;
        QTest::newRow("leading zero is decimal") << QStringList{"--port", "P", "--vid", "07536"} << true << 7536;
        QTest::newRow("vid without port") << QStringList{"--vid", "7536"} << false << -1;
        QTest::newRow("port without vid") << QStringList{"--port", "P"} << false << -1;
        QTest::newRow("not a number") << QStringList{"--port", "P", "--vid", "sky"} << false << -1;
        QTest::newRow("too large") << QStringList{"--port", "P", "--vid", "70000"} << false << -1;
    }

    void portOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(int, vid);
        const QString port = m_dir.filePath(QStringLiteral("P"));
        arguments.replaceInStrings(QRegularExpression(QStringLiteral("^P$")), port);
        QCommandLineParser parser;
        PortOptions::addTo(parser);
        QVERIFY(parser.parse(QStringList{QStringLiteral("tavio-pc-tool")} + arguments));
        QString error;
        const SharedPortLister lister = PortOptions::listerFrom(parser, &error);
        QCOMPARE(lister != nullptr, valid);
        QCOMPARE(error.isEmpty(), valid);
        if (vid < 0)
            return;
        auto listed = [&] {
            for (const auto &p : lister->availablePorts())
                if (p.portName == port)
                    return int(p.vendorIdentifier);
            return -1;
        };
        QCOMPARE(listed(), -1); // the path does not exist yet
        QFile(port).open(QIODevice::WriteOnly);
        QCOMPARE(listed(), vid);
        QFile::remove(port);
    }
    void eachReply_recordsItsAcknowledgementAndSignals_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<Ack>("ack");
        QTest::addColumn<QString>("signal"); // the one signal it emits, if any
        const quint32 seq = 70000; // beyond 16 bits
        QTest::newRow("reboot") << plainAck(AR_COMMAND_GET_ACTIVE, seq) << Ack::Positive << "reboot";
        QTest::newRow("remote upgrade") << plainAck(AR_CMD_REMOTE_UPGRADE, seq) << Ack::Positive << "";
        QTest::newRow("device info") << reply(AR_COMMAND_FIND_DEVICE, seq, deviceInfo()) << Ack::Positive << "segment";
        QTest::newRow("device info of request type")
            << reply(AR_COMMAND_FIND_DEVICE, seq, deviceInfo(), AR_MSGTYPE_REQUEST) << Ack::Negative << "segment";
        QTest::newRow("status") << reply(AR_CMD_UPGRADE_STATUS, seq, ar_upgrade_status{}) << Ack::Positive << "status";
        QTest::newRow("file end") << reply(AR_CMD_SENDFILE_END, seq, ar_receive_date_info{}) << Ack::Positive
                                  << "verdict";
        QTest::newRow("refusal") << reply(0, seq, ar_ack_info{-1, {}}) << Ack::Negative << "status";
        QTest::newRow("command 0, other status") << reply(0, seq, ar_ack_info{0, {}}) << Ack::None << "";
        QTest::newRow("acknowledgement command") << plainAck(AR_CMD_ACK, seq) << Ack::None << "";
        QTest::newRow("unknown command") << plainAck(AR_CMD_UPLOAD_FILE, seq) << Ack::None << "";
        QByteArray badCrc = plainAck(AR_CMD_REMOTE_UPGRADE, seq);
        badCrc[33] = char(badCrc[33] ^ 0x5A);
        QTest::newRow("wrong CRC, processed all the same") << badCrc << Ack::Positive << "";
    }

    void eachReply_recordsItsAcknowledgementAndSignals()
    {
        QFETCH(QByteArray, frame);
        QFETCH(Ack, ack);
        QFETCH(QString, signal);
        QSignalSpy reboot(m_link.get(), &UsbVirtualSerial::sig_reboot);
        QSignalSpy segment(m_link.get(), &UsbVirtualSerial::sig_SegLength);
        QSignalSpy status(m_link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
        QSignalSpy verdict(m_link.get(), &UsbVirtualSerial::sig_receiveDateInfo);
        m_link->receiveBytes(frame);
        const quint32 seq = ProtocolFrame::decodeHeader(frame.constData()).seq;

        switch (ack) {
        case Ack::Positive:
            QVERIFY(m_link->waitForACK(seq, 0));
            QVERIFY(!m_link->waitForACK(seq, 0)); // the wait consumed the entry
            break;
        case Ack::Negative: {
            QElapsedTimer timer;
            timer.start();
            QVERIFY(!m_link->waitForACK(seq, RefusalWaitMs));
            QVERIFY(timer.elapsed() < RefusalWaitMs / 2);
            break;
        }
        case Ack::None:
            QVERIFY(!m_link->waitForACK(seq, 0));
            break;
        }
        QCOMPARE(reboot.count(), signal == QLatin1String("reboot") ? 1 : 0);
        QCOMPARE(segment.count(), signal == QLatin1String("segment") ? 1 : 0);
        QCOMPARE(status.count(), signal == QLatin1String("status") ? 1 : 0);
        QCOMPARE(verdict.count(), signal == QLatin1String("verdict") ? 1 : 0);
        QCOMPARE(m_link->getDeviceInfoFlag(), signal == QLatin1String("segment"));
    }

    void deviceInfoReply_storesTheIdentityUntilReset()
    {
        QSignalSpy segment(m_link.get(), &UsbVirtualSerial::sig_SegLength);
        m_link->receiveBytes(reply(AR_COMMAND_FIND_DEVICE, 3, deviceInfo()));
        QCOMPARE(segment.first().first().toInt(), 10240);
        QCOMPARE(m_link->getReceiveMaxSize(), 10240);

        char firmware[64], serial[32], hardware[32];
        int temperature = 0;
        m_link->getDeviceInfo(firmware, serial, hardware, &temperature);
        QCOMPARE((QByteArrayList{firmware, serial, hardware, QByteArray::number(temperature)}),
                 (QByteArrayList{"Merlow_R_Sky_1_0_5", "SN42", "HW2", "47"}));

        m_link->resetDeviceInfoPara();
        m_link->getDeviceInfo(firmware, serial, hardware, &temperature);
        QCOMPARE(temperature, -100);
        QCOMPARE(firmware[0], '\0');
    }

    void halfFrameFromTheLastConnection_isDroppedOnOpen()
    {
        const ar_upgrade_status report{};
        m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 8, report).left(40)); // the device reset mid-reply
        m_link->openSerialPort(QStringLiteral("/nonexistent/port"));
        m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 9, report));
        QVERIFY(m_link->waitForACK(9, 0));
    }

    void flood_leavesThePortsBufferBounded_data()
    {
        QTest::addColumn<bool>("receiving");
        QTest::newRow("reception on") << true;
        QTest::newRow("reception off") << false;
    }

    // A device that sends and sends, whether or not anyone listens: the port
    // keeps no more than a pty's worth, and a reply that follows is still heard.
    void flood_leavesThePortsBufferBounded()
    {
        QFETCH(bool, receiving);
        PseudoTerminal pty;
        QString error;
        QVERIFY2(pty.open(&error), qPrintable(error));
        QVERIFY(m_link->openSerialPort(pty.slavePath()));
        if (receiving)
            m_link->startSerialRecv();
        QVERIFY(writeAll(pty.masterFd(), QByteArray(FloodBytes, '\x5A')));
        const qint64 unread = m_link->unreadBytes();
        QVERIFY2(unread <= UnreadLimit, qPrintable(QString::number(unread)));

        m_link->startSerialRecv();
        QVERIFY(writeAll(pty.masterFd(), reply(AR_CMD_UPGRADE_STATUS, 11, ar_upgrade_status{})));
        QVERIFY(m_link->waitForACK(11, ArrivalWaitMs));
    }
private:
    static constexpr int SimultaneousSessions = 16;
    QTemporaryDir m_dir;
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<LogCapture> m_log;
};

QTEST_GUILESS_MAIN(TestReceiveDispatch)
#include "tst_receivedispatch.moc"

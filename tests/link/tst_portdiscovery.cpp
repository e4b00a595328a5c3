#include "deviceconfig.h"
#include "fixedportlister.h"
#include "logcapture.h"
#include "portoptions.h"
#include "usbcheck.h"
#include "usbvirtualserial.h"

#include <QCommandLineParser>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

Q_DECLARE_METATYPE(SerialPortDescription)
using Ports = QList<SerialPortDescription>;

class TestPortDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_dir.path())); }
    void cleanup()
    {
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
        QCOMPARE(DeviceConfig::keyFor(quint16(vid)), key);
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
        LogCapture log;
        UsbVirtualSerial link(std::make_shared<FixedPortLister>());
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
private:
    static constexpr int SimultaneousSessions = 16;
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestPortDiscovery)
#include "tst_portdiscovery.moc"

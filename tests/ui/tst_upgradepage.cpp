#include "devicejob.h"
#include "firmwaredialog.h"
#include "flashevents.h"
#include "firmwareshelves.h"
#include "flashreporter.h"
#include "protocolframe.h"
#include "testbytes.h"
#include "upgradepage_fixture.h"
#include "upgraderun.h"
#include "upgradeprocess.h"

#include <QElapsedTimer>
#include <QMimeData>
#include <QThreadPool>

using namespace PageTexts;

namespace {
constexpr int FastFactor = 100;       // the worker's 5 s pauses take 50 ms
// A waiting upgrade gives up on the device after 300 s of its time: 30 s
// here, longer than any test takes to act on it, however loaded the machine.
constexpr int WaitingFactor = 10;
constexpr int QuickRebootMs = 200;
constexpr int AwayRebootMs = 600000;  // the device stays away while a test acts
constexpr int UpgradeTimeoutMs = 30000;
constexpr int SearchLimitMs = 30000;   // a small folder or zip, looked through on a loaded machine
constexpr int NamePauseMs = 200;
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img");

// Counts the events of one type a watched object gets.
class EventCounter : public QObject
{
public:
    EventCounter(QEvent::Type type, int *count) : m_type(type), m_count(count) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            ++*m_count;
        return false;
    }

private:
    QEvent::Type m_type;
    int *m_count;
};

DeviceIdentity identityOf(quint16 vid, int cpuTemp = DeviceIdentity().cpuTemp)
{
    DeviceIdentity identity;
    identity.vendorId = vid;
    identity.cpuTemp = cpuTemp;
    return identity;
}
} // namespace

// ---- presence -----------------------------------------------------------------------

// ---- connect ------------------------------------------------------------------------

// ---- file choice --------------------------------------------------------------------

// ---- the upgrade --------------------------------------------------------------------

// ---- confirmation while upgrading and lifetime ---------------------------------------

// ---- the check of the restarted device -----------------------------------------------

Q_DECLARE_METATYPE(SimScript::AfterUpgrade)


class TestUpgradePage : public QObject
{
    Q_OBJECT

private slots:
    void init() { f.reset(new PageFixture); }
    void cleanup() { f.reset(); }

    void presence_namesTheDevice_data()
    {
        QTest::addColumn<QList<int>>("vids"); // reported one after the other
        QTest::addColumn<QString>("configured"); // the name in the settings file
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("pauses"); // lets the unit settle before it is named
        const QString quad = QStringLiteral("My Quad");
        QTest::newRow("none") << QList<int>{0} << QString() << "NO Device" << false;
        QTest::newRow("ground units") << QList<int>{7531, 7534, 7535, 7537, 7539} << QString() << "Merlow Gnd" << false;
        QTest::newRow("sky units") << QList<int>{7532, 7533, 7536, 7538, 7540} << QString() << "Merlow Sky" << false;
        QTest::newRow("other identifiers") << QList<int>{7530, 7543, 1234} << QString() << "Merlow FPV" << false;
        QTest::newRow("configured name") << QList<int>{7532, 7543} << quad << quad << false;
        QTest::newRow("ground EX5 keeps its own name") << QList<int>{7541} << quad << "Merlow Gnd" << true;
        QTest::newRow("sky EX6 keeps its own name") << QList<int>{7542} << quad << "Merlow Sky" << true;
    }

    // A unit that stays is reported again and again: it is not paused for
    // again. The pause never holds the window up.
    void presence_namesTheDevice()
    {
        QFETCH(QList<int>, vids);
        QFETCH(QString, configured);
        QFETCH(QString, name);
        QFETCH(bool, pauses);
        UpgradePage *page = f->makePage();
        for (int vid : vids) {
            if (!configured.isEmpty())
                f->writeDeviceName(quint16(vid), configured);
            QElapsedTimer timer;
            timer.start();
            page->handleDeviceDetected(quint16(vid));
            QCOMPARE(f->text("lbConnNote") != name, pauses);
            QTRY_COMPARE(f->text("lbConnNote"), name);
            QCOMPARE(timer.elapsed() >= NamePauseMs, pauses);
            QCOMPARE(f->plainLink->get_usb_vid(), vid);
            page->handleDeviceDetected(quint16(vid));
            QCOMPARE(f->text("lbConnNote"), name); // a unit that stays is not paused for again
        }
    }

    void showing_picksThePanel_data()
    {
        QTest::addColumn<bool>("upgrading");
        QTest::newRow("connect prompt, presence polled") << false;
        QTest::newRow("during an upgrade, the upgrade panel") << true;
    }

    void showing_picksThePanel()
    {
        QFETCH(bool, upgrading);
        QVERIFY(f->startDevice(identityOf(AR_FPV_BOARD_TYPE_GT_GND)));
        UpgradePage *page = f->makePage();
        // The form connects on_<widget>_<signal> slots by name and warns about
        // any other slot named like that.
        QCOMPARE(LogCapture::count(QStringLiteral("connectSlotsByName")), 0);
        QCOMPARE(f->text("lbConnNote"), QStringLiteral("NO Device"));
        page->setUpgradeFlag(upgrading);
        page->show();
        QCOMPARE(f->shown("widgetUpg"), upgrading);
        QCOMPARE(f->shown("widgetConn"), !upgrading);
        QCOMPARE(f->shown("btnConnDevice"), !upgrading);
        QVERIFY(!f->shown("btnUsb"));
        QVERIFY(!page->close()); // only the window closes
        QVERIFY(page->isVisible());
        if (!upgrading)
            QTRY_COMPARE(f->text("lbConnNote"), QStringLiteral("Merlow Gnd"));
    }

    void connect_showsTheIdentityAndKeepsItOnLanguageChange_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("nameAfter"); // the device name after the change
        QTest::newRow("others wait for the next report") << int(AR_FPV_BOARD_TYPE_GT_SKY) << "NO Device";
        QTest::newRow("ground EX5 keeps its name") << int(AR_FPV_BOARD_TYPE_GND_EX5) << "Merlow Gnd";
    }

    // Connected, the page waits for a file: a cancelled choice changes nothing,
    // an accepted one is named on the bar.
    void connect_showsTheIdentityAndKeepsItOnLanguageChange()
    {
        QFETCH(int, vid);
        QFETCH(QString, nameAfter);
        QVERIFY(f->startDevice(identityOf(quint16(vid))));
        UpgradePage *page = f->makePage();
        f->connectTo(quint16(vid));
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->device->commands(), QList<quint32>{AR_COMMAND_FIND_DEVICE});
        QVERIFY(f->shown("widgetUpg"));
        QVERIFY(!f->shown("widgetConn"));
        const auto identity = [this] {
            return QStringList{f->text("lbHardware"), f->text("lbSn"), f->text("lbFirmware"), f->text("lbChipTemp")};
        };
        const QStringList deviceIdentity{"HW_V1.0", "SN0001", "Merlow_R_Sky_1_0_5", "45\u00B0C"};
        QCOMPARE(identity(), deviceIdentity);
        QCOMPARE(f->text("label_3"), QStringLiteral("Merlow R Sky"));
        QCOMPARE(f->text("lbNote"), QString());
        QCOMPARE(f->bar()->value(), 0);
        for (const bool cancel : {true, false}) {
            f->choose(cancel ? QString() : f->writeFile(ImageName, TestBytes::pattern(64)));
            VERIFY_BOXES(f->boxes);
            QCOMPARE(f->chooserCalls, cancel ? 1 : 2);
            QCOMPARE(f->bar()->format(), cancel ? LoadFirmware : ImageName);
            QCOMPARE(f->widget<QToolButton>("btnUpgrade")->isEnabled(), !cancel);
            QVERIFY(f->widget<QToolButton>("btnSelectBinFile")->isEnabled());
        }

        emit page->worker()->upgradeSucceeded();
        QCoreApplication::sendPostedEvents(page, QEvent::MetaCall); // it arrives queued
        QCOMPARE(f->text("lbNote"), Finished);
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(page, &change);
        QCOMPARE(identity(), deviceIdentity);
        QCOMPARE(f->text("lbNote"), QString());
        QCOMPARE(f->text("label_3"), QStringLiteral("Merlow FPV"));
        QCOMPARE(f->text("lbConnNote"), nameAfter);
    }

    void identity_oddDeviceTexts_showHarmlessly_data()
    {
        QTest::addColumn<QByteArray>("hardware");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<int>("cpuTemp");
        QTest::addColumn<QStringList>("labels"); // hardware, serial, temperature
        QTest::addColumn<QString>("line");       // the command's identity line, after "serial "
        const QString mark(QChar::ReplacementCharacter);
        QTest::newRow("plain") << QByteArray("HW_V1.0") << QByteArray("SN0001") << 45
                               << QStringList{"HW_V1.0", "SN0001", "45\u00B0C"}
                               << "SN0001, hardware HW_V1.0, firmware Merlow_R_Sky_1_0_5, 45 °C, maximum segment 1024";
        QTest::newRow("line break in the hardware version")
            << QByteArray("HW\nV1\r") << QByteArray("SN0001") << 45
            << QStringList{"HW" + mark + "V1" + mark, "SN0001", "45\u00B0C"}
            << "SN0001, hardware HW" + mark + "V1" + mark + ", firmware Merlow_R_Sky_1_0_5, 45 °C, maximum segment 1024";
        QTest::newRow("terminal controls in the serial number")
            << QByteArray("HW_V1.0") << QByteArray("SN\t\x1b[2J\x7f") << 45
            << QStringList{"HW_V1.0", "SN" + mark + mark + "[2J" + mark, "45\u00B0C"}
            << "SN" + mark + mark + "[2J" + mark
                   + ", hardware HW_V1.0, firmware Merlow_R_Sky_1_0_5, 45 °C, maximum segment 1024";
        const auto temperature = [](const char *name, int reported, const QString &label, const QString &shown) {
            QTest::newRow(name) << QByteArray("HW_V1.0") << QByteArray("SN0001") << reported
                                << QStringList{"HW_V1.0", "SN0001", label}
                                << "SN0001, hardware HW_V1.0, firmware Merlow_R_Sky_1_0_5, " + shown
                                       + " °C, maximum segment 1024";
        };
        temperature("lowest int temperature", std::numeric_limits<int>::min(), "--", "--");
        temperature("coldest possible", -55, "-55\u00B0C", "-55");
        temperature("colder than possible", -56, "--", "--");
        temperature("hottest possible", 150, "150\u00B0C", "150");
        temperature("hotter than possible", 151, "--", "--");
    }

    // The device's texts and temperature, as the window's labels and the
    // command's output show them: a control character never breaks a line or
    // drives a terminal, an impossible temperature is unknown.
    void identity_oddDeviceTexts_showHarmlessly()
    {
        QFETCH(QByteArray, hardware);
        QFETCH(QByteArray, serial);
        QFETCH(int, cpuTemp);
        QFETCH(QStringList, labels);
        QFETCH(QString, line);
        DeviceIdentity identity = identityOf(AR_FPV_BOARD_TYPE_GT_SKY, cpuTemp);
        identity.hardwareVersion = hardware;
        identity.serialNumber = serial;
        QVERIFY(f->startDevice(identity));
        f->makePage();
        f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
        VERIFY_BOXES(f->boxes);
        QCOMPARE((QStringList{f->text("lbHardware"), f->text("lbSn"), f->text("lbChipTemp")}), labels);

        DeviceIdentityInfo info;
        f->device->link->getDeviceInfo(info.firmware.data(), info.serial.data(), info.hardware.data(), &info.cpuTemp);
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        FlashReporter reporter(outStream, errStream, FlashReporter::Style::Plain);
        reporter.report(FlashEvents::identity({QStringLiteral("PORT"), fixedFieldText(info.serial)}, info,
                                              f->device->link->getReceiveMaxSize(), AR_FPV_BOARD_TYPE_GT_SKY));
        outStream.flush();
        QCOMPARE(out, "PORT: serial " + line + "\n");
        QCOMPARE(err, QString());
    }

    // Connect that ends on the prompt: no device to ask (whatever the case of a
    // configured "no device"), no answer, or never a known temperature.
    void connect_unanswered_warnsAndStaysOnThePrompt_data()
    {
        QTest::addColumn<int>("vid");
        QTest::addColumn<QString>("configuredName");
        QTest::addColumn<int>("cpuTemp"); // -100: not known
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const int sky = AR_FPV_BOARD_TYPE_GT_SKY;
        const int temp = DeviceIdentity().cpuTemp;
        QTest::newRow("nothing attached") << 0 << QString() << temp << false << Hint << ConnectUsb;
        QTest::newRow("named no device, lower case") << sky << "no device" << temp << false << Hint << ConnectUsb;
        QTest::newRow("named no device, mixed case") << sky << "No DeVice" << temp << false << Hint << ConnectUsb;
        QTest::newRow("silent device") << sky << QString() << temp << true << Warning << NoCommunication;
        // The reply says the temperature is not known: no identity came.
        QTest::newRow("no temperature") << sky << QString() << -100 << false << Hint << ConnectUsb;
    }

    void connect_unanswered_warnsAndStaysOnThePrompt()
    {
        QFETCH(int, vid);
        QFETCH(QString, configuredName);
        QFETCH(int, cpuTemp);
        QFETCH(bool, silent);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QVERIFY(f->startDevice(identityOf(AR_FPV_BOARD_TYPE_GT_SKY, cpuTemp)));
        f->device->sim.setSilent(silent);
        if (!configuredName.isEmpty())
            f->writeDeviceName(quint16(vid), configuredName);
        f->makePage();
        const bool asks = vid != 0 && configuredName.isEmpty();
        f->boxes.expect(title, text);
        if (!asks) // pressing again while the box is open adds no second one
            f->boxes.whileShown([this] { f->click("btnConnDevice"); });
        f->connectTo(quint16(vid));
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->device->commands(), asks ? QList<quint32>{AR_COMMAND_FIND_DEVICE} : QList<quint32>());
        QVERIFY(!f->device->link->SerialPortIsOpen()); // a connection that failed holds no port
        QVERIFY(f->shown("widgetConn"));
        QVERIFY(!f->shown("widgetUpg"));
        QCOMPARE(f->text("lbFirmware"), QString());
    }

    // The question runs off the window's thread: the window paints and takes
    // Disconnect while a silent device is asked, and Disconnect ends the wait
    // there and then, not when the answer time runs out.
    void connect_silentDevice_windowStaysResponsiveAndDisconnectGivesUp()
    {
        struct LongAnswerClock : SystemClock
        {
            int replyWaitMs(int) const override { return 600000; }
        };
        QVERIFY(f->startDevice());
        f->device->sim.setSilent(true);
        UpgradePage *page = f->makePage(nullptr, std::make_shared<LongAnswerClock>());
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page));
        page->handleDeviceDetected(AR_FPV_BOARD_TYPE_GT_SKY);
        f->widget<QToolButton>("btnConnDevice")->click();
        QTRY_VERIFY(f->device->sim.frames().size() == 1); // asked, and no answer comes

        QVERIFY(page->isBusy());
        QCOMPARE(f->text("lbNote"), QStringLiteral("正在连接设备..."));
        int paints = 0;
        EventCounter counter(QEvent::Paint, &paints);
        f->widget<QLabel>("lbNote")->installEventFilter(&counter);
        f->widget<QLabel>("lbNote")->update();
        QTRY_VERIFY(paints > 0);
        QVERIFY(page->isBusy());

        f->click("btnDisConnDevice");
        VERIFY_BOXES(f->boxes); // none: the user let go
        QVERIFY(!page->isBusy());
        QVERIFY(f->shown("widgetConn"));
        QVERIFY(f->widget<QToolButton>("btnConnDevice")->isEnabled());
        QVERIFY(!f->device->link->SerialPortIsOpen());
        QCOMPARE(LogCapture::count(QStringLiteral("Retry")), 0); // no wait ran out

        f->device->sim.setSilent(false);
        f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
        VERIFY_BOXES(f->boxes);
        QVERIFY(f->shown("widgetUpg"));
        QCOMPARE(f->text("lbFirmware"), QString::fromLatin1(f->device->sim.identity().firmware));
    }

    void unaskedFailureReport_withoutAnUpgrade_isOnlyLogged_data()
    {
        QTest::addColumn<QByteArray>("frame");
        ar_upgrade_status flashError{};
        flashError.status = UPGRATE_ERR_FLASH_ERR;
        ar_ack_info refusal{};
        refusal.status = -1;
        QTest::newRow("failure status") << ProtocolFrame::encode(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_ACK, 0, 0,
                                                                 ProtocolFrame::recordBytes(flashError));
        QTest::newRow("refusing acknowledgement")
            << ProtocolFrame::encode(0, AR_MSGTYPE_ACK, 0, 0, ProtocolFrame::recordBytes(refusal));
    }

    // A connected, idle device reports a failure nobody asked about: there is no
    // upgrade for it to end, so no box, and the link keeps listening.
    void unaskedFailureReport_withoutAnUpgrade_isOnlyLogged()
    {
        QFETCH(QByteArray, frame);
        QVERIFY(f->startDevice(identityOf(AR_FPV_BOARD_TYPE_GT_SKY)));
        f->makePage();
        f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
        QVERIFY(f->shown("widgetUpg"));
        f->device->link->receiveBytes(frame);
        QCoreApplication::processEvents();
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->text("lbNote"), QString());
        QVERIFY(f->log.contains(QStringLiteral("status report while no upgrade runs, ignored")));
        QVERIFY(f->device->link->isSerialRecvStarted());
        QVERIFY(f->device->link->SerialPortIsOpen());
    }

    // Once the device has said its upgrade is done, a failure it reports while
    // it restarts cannot turn the success into a failure.
    void failureReport_afterTheDevicesSuccess_changesNothing()
    {
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(1024), QuickRebootMs,
                         std::make_shared<ScaledClock>(FastFactor));
        DeviceSimulator &sim = f->device->sim;
        onSelfRestart(sim, [&sim] { sim.setRebootDelay(AwayRebootMs); });
        f->click("btnUpgrade");
        const QString waiting = Finished + QStringLiteral(" 正在等待设备重启后验证固件");
        QTRY_VERIFY_WITH_TIMEOUT(f->text("lbNote").startsWith(waiting), UpgradeTimeoutMs);
        ar_upgrade_status flashError{};
        flashError.status = UPGRATE_ERR_FLASH_ERR;
        f->device->link->receiveBytes(ProtocolFrame::encode(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_ACK, 0, 0,
                                                            ProtocolFrame::recordBytes(flashError)));
        QCoreApplication::processEvents();
        VERIFY_BOXES(f->boxes);
        QVERIFY(f->text("lbNote").startsWith(waiting));
        QVERIFY(f->page->worker()->isSequenceRunning()); // still checking the restart
    }

    // Each refused file leaves the accepted one in place: the upgrade that
    // follows sends it.
    void fileChoice_refused_changesNothing()
    {
        const QByteArray accepted = TestBytes::pattern(1024, 1);
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, accepted, QuickRebootMs,
                         std::make_shared<ScaledClock>(FastFactor));
        const QList<QPair<QString, QString>> refusals{
            {"Merlow_R_Sky_1_0_6.bin", "升级固件文件名错误！"},
            {"Merlow_R_Gnd_1_0_6.img", "升级固件与设备不匹配！请检查！"},
            {"Merlow_R_Sky_1_0_4.img", "升级固件版本过低！请检查！"}};
        for (const auto &refusal : refusals) {
            f->boxes.expect(Warning, refusal.second);
            f->choose(f->writeFile(refusal.first, TestBytes::pattern(1024, 2)));
            VERIFY_BOXES(f->boxes);
            QCOMPARE(f->bar()->format(), ImageName);
            QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
        }

        f->click("btnUpgrade");
        QTRY_COMPARE_WITH_TIMEOUT(f->text("lbNote"), Verified, UpgradeTimeoutMs);
        const QList<SimReceivedFile> received = f->device->sim.receivedFiles();
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first().data, accepted);
    }

    // What the worker reports during an upgrade, as the page shows it: the
    // bar (1 to 4 shows as 5, never past 100, and a full bar is no success),
    // success only from its own report, a hint's box before its note, a wait in
    // the note, and only while upgrading.
    void workerReports_showOnThePage_data()
    {
        QTest::addColumn<QStringList>("reports"); // "progress N", "success", "hint TEXT", "failure TEXT", "wait TEXT"
        QTest::addColumn<bool>("upgrading");
        QTest::addColumn<QString>("note");
        QTest::addColumn<int>("bar");
        QTest::addColumn<bool>("upgradingAfter");
        QTest::addColumn<bool>("selectable"); // the file button, disabled while upgrading
        QTest::addColumn<bool>("upgradable");
        const auto progress = [](const char *name, int reported, int shown) {
            QTest::newRow(name) << QStringList{QStringLiteral("progress %1").arg(reported)} << true << QString()
                                << shown << true << false << true;
        };
        progress("0", 0, 0);
        progress("1 shows as 5", 1, 5);
        progress("4 shows as 5", 4, 5);
        progress("5", 5, 5);
        progress("99", 99, 99);
        progress("100 is no success", 100, 100);
        progress("1000 shows as 100", 1000, 100);
        QTest::newRow("success completes") << QStringList{"success"} << true << Finished << 100 << false << true
                                           << false;
        const QString timeout = QStringLiteral("升级超时，请重启设备再次升级。");
        QTest::newRow("hint: its box, then the note") << QStringList{"hint " + timeout} << true << timeout << 0 << false
                                                      << false << true;
        QTest::newRow("failure: the failure note") << QStringList{"failure " + timeout} << true
                                                   << "升级失败，请检查文件重新导入" << 0 << true << true << true;
        // "wait PHASE SECONDS": a restart wait or the restart check's; "wait": the wait is over.
        const QString waiting = Upgrading + QStringLiteral(" 正在等待设备重启，已等待35秒（最长1235秒）");
        const QString checking = Finished + QStringLiteral(" 正在等待设备重启后验证固件，已等待12秒（最长305秒）");
        QTest::newRow("a wait beside the upgrading note") << QStringList{"wait restart 35"} << true << waiting << 0
                                                          << true << false << true;
        QTest::newRow("its end leaves the upgrading note") << QStringList{"wait restart 35", "wait"} << true
                                                           << Upgrading << 0 << true << false << true;
        QTest::newRow("a wait is ignored without an upgrade") << QStringList{"wait restart 35"} << false << QString()
                                                              << 0 << false << false << true;
        QTest::newRow("the restart check beside the success") << QStringList{"success", "wait check 12"} << true
                                                              << checking << 100 << false << true << false;
        QTest::newRow("the check's end leaves it") << QStringList{"success", "wait check 12", "wait"} << true
                                                   << checking << 100 << false << true << false;
    }

    void workerReports_showOnThePage()
    {
        QFETCH(QStringList, reports);
        QFETCH(bool, upgrading);
        QFETCH(QString, note);
        QFETCH(int, bar);
        QFETCH(bool, upgradingAfter);
        QFETCH(bool, selectable);
        QFETCH(bool, upgradable);
        UpgradePage *page = f->makePage();
        f->widget<QToolButton>("btnUpgrade")->setEnabled(true);
        f->widget<QToolButton>("btnSelectBinFile")->setEnabled(false);
        page->setUpgradeFlag(upgrading);
        QString noteWhileShown = QStringLiteral("no box");
        f->boxes.whileShown([&] { noteWhileShown = f->text("lbNote"); });
        for (const QString &report : reports) {
            const QString kind = report.section(QLatin1Char(' '), 0, 0);
            const QString text = report.section(QLatin1Char(' '), 1);
            if (kind == QLatin1String("progress")) {
                page->onUpgradeProgress(text.toInt());
                QCOMPARE(f->bar()->format(), QStringLiteral("%1%").arg(bar));
            } else if (kind == QLatin1String("success")) {
                emit page->worker()->upgradeSucceeded();
                QCoreApplication::sendPostedEvents(page, QEvent::MetaCall); // it arrives queued
            } else if (kind == QLatin1String("wait")) {
                const QStringList wait = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const UpgradeWait::Phase phase = wait.value(0) == QLatin1String("check") ? UpgradeWait::Phase::RestartCheck
                                                                                       : UpgradeWait::Phase::Restart;
                emit page->worker()->sigUpgradeWaiting(wait.isEmpty() ? UpgradeWait()
                                                                      : UpgradeWait{phase, wait.value(1).toInt(),
                                                                                    phase == UpgradeWait::Phase::Restart ? 1235 : 305});
                QCoreApplication::sendPostedEvents(page, QEvent::MetaCall); // it arrives queued
            } else {
                if (kind == QLatin1String("hint"))
                    f->boxes.expect(Warning, text);
                page->on_upgrade_process_hint(text, kind == QLatin1String("hint"));
            }
        }
        VERIFY_BOXES(f->boxes);
        QCOMPARE(noteWhileShown, reports.first().startsWith(QLatin1String("hint")) ? QString() : QStringLiteral("no box"));
        QCOMPARE(f->text("lbNote"), note);
        QCOMPARE(f->bar()->value(), bar);
        QCOMPARE(page->getUpgradeFlag(), upgradingAfter);
        QCOMPARE(f->widget<QToolButton>("btnSelectBinFile")->isEnabled(), selectable);
        QCOMPARE(f->widget<QToolButton>("btnUpgrade")->isEnabled(), upgradable);
    }

    // A file dropped on the connected page goes through Select's rules; from
    // a dropped folder or zip the device's own file is chosen, and upgraded
    // as a file chosen alone is.
    void drop_choosesTheFileAsSelectDoes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("files"); // none: `name` is a file alone
        QTest::addColumn<QString>("box");       // empty: accepted
        QTest::addColumn<QString>("shown");     // on the bar
        QTest::addColumn<bool>("disconnects");  // while the folder or zip is looked through
        const QStringList release{"gnd/Merlow_R_Gnd_1_0_9.img=i1", "sky/Merlow_R_Sky_1_0_6.img=i2",
                                  "Merlow_R_Sky_1_0_3.img"};
        const QString fromZip = QStringLiteral("Merlow_R_Sky_1_0_6.img 取自 release.zip：1_0_5 → 1_0_6");
        QTest::newRow("fits") << ImageName << QStringList() << QString() << ImageName << false;
        QTest::newRow("another device's") << "Merlow_R_Gnd_1_0_6.img" << QStringList()
                                          << QStringLiteral("升级固件与设备不匹配！请检查！") << ImageName << false;
        QTest::newRow("a folder") << "release" << release << QString()
                                  << QStringLiteral("Merlow_R_Sky_1_0_6.img 取自 release：1_0_5 → 1_0_6") << false;
        QTest::newRow("a zip") << "release.zip" << release << QString() << fromZip << false;
        QTest::newRow("a zip with nothing that fits") << "other.zip" << QStringList{release.first()}
            << QStringLiteral("other.zip 中没有适合此设备的固件：需要 Merlow_R_Sky，版本不低于 1_0_5。"
                              "最接近的：gnd/Merlow_R_Gnd_1_0_9.img（属于其他设备）") << ImageName << false;
        QTest::newRow("a zip, disconnected before it is looked through") << "release.zip" << release << QString()
                                                                         << ImageName << true;
    }

    void drop_choosesTheFileAsSelectDoes()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, files);
        QFETCH(QString, box);
        QFETCH(QString, shown);
        QFETCH(bool, disconnects);
        UpgradeRun::ProgramTempDir programTemp;
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(64), QuickRebootMs,
                         std::make_shared<ScaledClock>(FastFactor));
        f->boxes.expect(Warning, QStringLiteral("升级固件版本过低！请检查！")); // the accepted choice goes first
        f->choose(f->writeFile(QStringLiteral("Merlow_R_Sky_1_0_4.img"), TestBytes::pattern(64)));
        QTemporaryDir dir;
        const QString dropped = files.isEmpty() ? f->writeFile(name, TestBytes::pattern(64)) : dir.filePath(name);
        QVERIFY(files.isEmpty() || (name.endsWith(".zip") ? FirmwareShelves::writeZip(dropped, files)
                                                          : FirmwareShelves::writeFolder(dropped, files)));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(dropped)});
        if (!box.isEmpty())
            f->boxes.expect(Warning, box);
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f->page.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f->page.get(), &drop);
        if (!files.isEmpty()) { // looked through off the window's thread, the page telling so
            QCOMPARE(f->text("lbNote"), QStringLiteral("正在 %1 中查找适合此设备的固件...").arg(name));
            QVERIFY(!f->widget<QToolButton>("btnSelectBinFile")->isEnabled());
            QVERIFY(!f->widget<QToolButton>("btnUpgrade")->isEnabled());
            QDragEnterEvent another(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(f->page.get(), &another);
            QVERIFY(!another.isAccepted());
            if (disconnects) {
                f->click("btnDisConnDevice");
                QVERIFY(QThreadPool::globalInstance()->waitForDone(SearchLimitMs));
                QCoreApplication::processEvents(); // where a finished search would be told
            } else {
                QTRY_VERIFY_WITH_TIMEOUT(f->widget<QToolButton>("btnSelectBinFile")->isEnabled(), SearchLimitMs);
            }
        }
        VERIFY_BOXES(f->boxes);
        const QString tip = f->bar()->toolTip(); // a note too long for the bar is given whole there
        QCOMPARE(tip.isEmpty() ? f->bar()->format() : tip, shown); // the dropped choice, or the one before
        if (files.isEmpty() || !box.isEmpty() || disconnects)
            return;
        upgradeTo(Verified);
        QCOMPARE(f->device->received(), QList<QByteArray>{FirmwareShelves::content(files.at(1))});
        QVERIFY(programTemp.noPartsLeft());
    }

    // The dialog starts where the last file was chosen, else at home.
    void fileDialog_startsInTheLastFolder_data()
    {
        QTest::addColumn<QString>("remembered"); // empty: nothing; "gone": a folder since removed
        QTest::newRow("nothing chosen yet") << QString();
        QTest::newRow("a file chosen before") << "images";
        QTest::newRow("its folder since removed") << "gone";
    }

    void fileDialog_startsInTheLastFolder()
    {
        QFETCH(QString, remembered);
        const QString file = f->writeFile(QStringLiteral("Merlow_R_Sky_1_0_6.img"), TestBytes::pattern(8));
        if (!remembered.isEmpty())
            FirmwareDialog::remember(file);
        if (remembered == QLatin1String("gone"))
            QVERIFY(QDir(QFileInfo(file).path()).removeRecursively());
        QCOMPARE(FirmwareDialog::startFolder(),
                 remembered == QLatin1String("images") ? QFileInfo(file).absolutePath() : QDir::homePath());
    }

    void outcome_isShownExitedAndRecordedAlike_data()
    {
        QTest::addColumn<UpgradeOutcome>("outcome");
        QTest::addColumn<QString>("note");  // the page's result line
        QTest::addColumn<QString>("box");   // empty: none
        QTest::addColumn<int>("exitCode");  // the command's
        QTest::addColumn<QString>("recorded"); // the command's result and the ledger's outcome
        using Kind = UpgradeOutcome::Kind;
        const auto checked = [](RestartCheck::Outcome check, const char *firmware) {
            UpgradeOutcome outcome = UpgradeOutcome::success();
            outcome.check.outcome = check;
            outcome.check.fileName = ImageName;
            qstrncpy(outcome.check.identity.firmware.data(), firmware, outcome.check.identity.firmware.size());
            return outcome;
        };
        const QString other = QStringLiteral("未通过验证：重启后的设备报告固件 Merlow_R_Sky_1_0_5，与 %1 的版本不符")
                                  .arg(ImageName);
        const QString silent = QStringLiteral("未通过验证：设备重启后没有应答");
        QTest::newRow("succeeded") << UpgradeOutcome::success() << Finished << QString() << 0 << Finished;
        QTest::newRow("verified") << checked(RestartCheck::Outcome::Verified, "Merlow_R_Sky_1_0_6") << Verified
                                  << QString() << 0 << QStringLiteral("已验证");
        // Not verified: a box too, the device may still run the old firmware.
        QTest::newRow("other firmware after") << checked(RestartCheck::Outcome::OtherFirmware, "Merlow_R_Sky_1_0_5")
                                              << Finished + QLatin1Char(' ') + other << other << 6 << other;
        QTest::newRow("no answer after") << checked(RestartCheck::Outcome::NoAnswer, "") << Finished + QLatin1Char(' ') + silent
                                         << silent << 6 << silent;
        const struct
        {
            const char *name;
            Kind kind;
            int exitCode;
        } failures[] = {{"file changed", Kind::FileChanged, 4},   {"transfer failed", Kind::TransferFailed, 5},
                        {"device refused", Kind::DeviceRefused, 4}, {"no reboot", Kind::NoReboot, 5},
                        {"not back", Kind::NotBack, 5},            {"status timeout", Kind::StatusTimeout, 5},
                        {"abnormal end", Kind::AbnormalEnd, 4},    {"device error", Kind::DeviceError, 4},
                        {"disconnected", Kind::Disconnected, 5},     {"timed out", Kind::TimedOut, 5}};
        for (const auto &failure : failures) {
            const QString hint = QStringLiteral("hint of ") + QLatin1String(failure.name);
            QTest::newRow(failure.name) << UpgradeOutcome::of(failure.kind, hint, -5) << hint << hint
                                        << failure.exitCode << hint;
        }
        // Nothing was sent: the page is back at the chosen file.
        QTest::newRow("not started") << UpgradeOutcome::of(Kind::NotStarted, QStringLiteral("refused"))
                                     << QString() << QStringLiteral("refused") << 2 << QStringLiteral("refused");
        // The user ended it: nothing more is said.
        QTest::newRow("cancelled") << UpgradeOutcome::cancelled() << Upgrading << QString() << 5
                                   << QStringLiteral("cancelled");
    }

    // One outcome, three places: the page's result line (and box), the command's
    // exit code and its recorded result.
    void outcome_isShownExitedAndRecordedAlike()
    {
        QFETCH(UpgradeOutcome, outcome);
        QFETCH(QString, note);
        QFETCH(QString, box);
        QFETCH(int, exitCode);
        QFETCH(QString, recorded);
        UpgradePage *page = f->makePage();
        page->setUpgradeFlag(true);
        f->widget<QLabel>("lbNote")->setText(Upgrading);
        const QString plainLook = f->widget<QLabel>("lbNote")->styleSheet();
        if (!box.isEmpty())
            f->boxes.expect(Warning, box);
        if (outcome.succeeded())
            emit page->worker()->upgradeSucceeded();
        emit page->worker()->finished(outcome);
        QCoreApplication::sendPostedEvents(page, QEvent::MetaCall); // they arrive queued
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->text("lbNote"), note);
        // A checked result has a look of its own; the rest keep the plain one.
        QCOMPARE(f->widget<QLabel>("lbNote")->styleSheet() != plainLook, outcome.restartChecked());
        QCOMPARE(page->getUpgradeFlag(), outcome.kind == UpgradeOutcome::Kind::Cancelled);
        QCOMPARE(DeviceJob::exitCodeOf(outcome), exitCode);
        QCOMPARE(outcome.summary(), recorded);
    }

    void statusPhase_showsSuccessOnlyWhenTheDeviceIsDone_data()
    {
        QTest::addColumn<int>("percent"); // reported with "in progress", again and again, before "done"
        QTest::newRow("100 while still in progress") << 100;
        QTest::newRow("1000 while still in progress") << 1000;
    }

    // The bar may be full long before the device has finished flashing: the
    // page tells of success only when the device reports it done.
    void statusPhase_showsSuccessOnlyWhenTheDeviceIsDone()
    {
        QFETCH(int, percent);
        constexpr int StillInProgress = 20;
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(2048), QuickRebootMs,
                         std::make_shared<ScaledClock>(FastFactor));
        QList<SimScript::StatusStep> script{{0, STAT_VERIFY_IMAGE}, {0, STAT_START}};
        for (int i = 0; i < StillInProgress; ++i)
            script.append({percent, STAT_IN_PROGRESS});
        script.append({100, STAT_DONE});
        f->device->sim.setStatusScript(script);
        // After the page has shown each bar report: still upgrading, the bar at
        // most full.
        int fullReports = 0;
        QStringList wrongStates;
        connect(f->page->worker(), &UpgradeProcess::sigUpgProg, f->page.get(), [&](int reported) {
            fullReports += reported >= 100 ? 1 : 0;
            const QString state = QStringLiteral("%1 %2 %3 %4 %5")
                                      .arg(f->text("lbNote"), f->bar()->format())
                                      .arg(f->bar()->value())
                                      .arg(f->page->getUpgradeFlag())
                                      .arg(f->widget<QToolButton>("btnUpgrade")->isEnabled());
            if (f->text("lbNote").startsWith(Finished) || f->bar()->value() > 100 || f->bar()->format() == "1000%"
                || !f->page->getUpgradeFlag() || !f->widget<QToolButton>("btnUpgrade")->isEnabled())
                wrongStates << state;
        }, Qt::QueuedConnection);
        upgradeTo(Verified);
        QCOMPARE(wrongStates, QStringList());
        QVERIFY2(fullReports > StillInProgress, "every report in progress and the last one fill the bar");
        QCOMPARE(f->bar()->value(), 100);
        QCOMPARE(f->bar()->format(), QStringLiteral("100%"));
        QVERIFY(f->widget<QToolButton>("btnSelectBinFile")->isEnabled());
        QVERIFY(!f->widget<QToolButton>("btnUpgrade")->isEnabled());
        VERIFY_BOXES(f->boxes);
    }

    void confirmation_keepsOrEndsTheSequenceBeforeTheAction_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("end"); // the answer to "still upgrading, end it?"
        QTest::addColumn<bool>("upgradingAfter");
        QTest::addColumn<bool>("connectPromptAfter");
        QTest::addColumn<int>("choices");
        QTest::addColumn<QString>("told"); // what the shown panel says became of the upgrade
        const QString cancelled = QStringLiteral("已取消");
        for (const char *button : {"btnDisConnDevice", "btnSelectBinFile", "btnUpgrade"})
            QTest::addRow("%s, no", button) << button << false << true << false << 0 << QString();
        QTest::newRow("btnDisConnDevice, yes") << "btnDisConnDevice" << true << false << true << 0 << cancelled;
        QTest::newRow("btnSelectBinFile, yes") << "btnSelectBinFile" << true << false << false << 1 << cancelled;
        QTest::newRow("btnUpgrade, yes") << "btnUpgrade" << true << true << false << 0 << Upgrading;
    }

    void confirmation_keepsOrEndsTheSequenceBeforeTheAction()
    {
        QFETCH(QString, button);
        QFETCH(bool, end);
        QFETCH(bool, upgradingAfter);
        QFETCH(bool, connectPromptAfter);
        QFETCH(int, choices);
        QFETCH(QString, told);
        startWaitingUpgrade();
        const int choicesBefore = f->chooserCalls;
        f->chooseFile(QString()); // a new choice is cancelled
        f->boxes.expect(Hint, StillUpgrading, end ? QMessageBox::Yes : QMessageBox::No);
        f->click(qPrintable(button));
        VERIFY_BOXES(f->boxes);

        QVERIFY(f->page->isEnabled());
        QCOMPARE(f->page->getUpgradeFlag(), upgradingAfter);
        QCOMPARE(f->shown("widgetConn"), connectPromptAfter);
        QCOMPARE(f->chooserCalls - choicesBefore, choices);
        QCOMPARE(f->shown("lbConnResult"), connectPromptAfter);
        if (connectPromptAfter)
            QCOMPARE(f->text("lbConnResult"), told);
        else if (end)
            QCOMPARE(f->text("lbNote"), told);
        if (!end) {
            const QString note = f->text("lbNote");
            QVERIFY2(note.startsWith(Upgrading), qPrintable(note));
            QVERIFY(f->page->worker()->isSequenceRunning());
            QVERIFY(f->page->worker()->beRun());
        } else if (!upgradingAfter) {
            // The first sequence ended before the button's own action went ahead.
            QVERIFY(!f->page->worker()->isSequenceRunning());
        } else {
            // A new sequence, not the ended one, takes the device once it is back:
            // it asks for a reboot of its own and finishes.
            QCOMPARE(f->text("lbNote"), Upgrading);
            f->device->sim.setRebootDelay(QuickRebootMs);
            f->device->sim.reappear();
            QTRY_COMPARE_WITH_TIMEOUT(f->text("lbNote"), Verified, UpgradeTimeoutMs);
            QCOMPARE(f->device->sim.rebootModes(), (QStringList{"clean", "clean", "after-upgrade"}));
            QCOMPARE(f->device->sim.receivedFiles().size(), 1);
        }
        if (connectPromptAfter) {
            QVERIFY(!f->device->link->SerialPortIsOpen());
            QCOMPARE(f->device->link->get_usb_vid(), 0);
            QCOMPARE(m_upgrade_device_vid.load(), 0);
        }
    }

    // The sequence uses the worker and the link: the page ends it and waits for
    // it before the worker goes (a sanitizer build sees any use after that).
    void destruction_duringAnUpgrade_endsTheSequenceFirst()
    {
        startWaitingUpgrade();
        f->page.reset();
        QVERIFY(!f->device->link->isSerialRecvStarted());
        QCOMPARE(f->device->link->get_usb_vid(), 0);
        QCOMPARE(m_upgrade_device_vid.load(), 0);
        VERIFY_BOXES(f->boxes);
    }

    void restartCheck_addsToTheSuccessNote_data()
    {
        QTest::addColumn<SimScript::AfterUpgrade>("after");
        QTest::addColumn<bool>("silentAfterRestart");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("firmwareShown");
        using After = SimScript::AfterUpgrade;
        const QString other = Finished + QStringLiteral(" 未通过验证：重启后的设备报告固件 Merlow_R_Sky_1_0_5，与 ")
                + ImageName + QStringLiteral(" 的版本不符");
        QTest::newRow("new firmware") << After::RestartWithNewFirmware << false << Verified << "Merlow_R_Sky_1_0_6";
        QTest::newRow("old firmware") << After::RestartWithOldFirmware << false << other << "Merlow_R_Sky_1_0_5";
        QTest::newRow("no restart") << After::Stay << false << other << "Merlow_R_Sky_1_0_5";
        QTest::newRow("no answer after the restart") << After::RestartWithNewFirmware << true
                                                     << Finished + QStringLiteral(" 未通过验证：设备重启后没有应答")
                                                     << "Merlow_R_Sky_1_0_5";
    }

    // The success text stays; the check adds to it, shows the firmware the
    // device restarted with, and judges the next file against it. The next
    // upgrade on the same page, of a device that takes it, is verified.
    void restartCheck_addsToTheSuccessNote()
    {
        QFETCH(SimScript::AfterUpgrade, after);
        QFETCH(bool, silentAfterRestart);
        QFETCH(QString, note);
        QFETCH(QString, firmwareShown);
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(2048), QuickRebootMs,
                         std::make_shared<ScaledClock>(FastFactor));
        DeviceSimulator &sim = f->device->sim;
        sim.setAfterUpgrade(after);
        if (silentAfterRestart)
            onSelfRestart(sim, [&sim] { sim.setSilent(true); });
        if (note != Verified) // the reason in a box as well
            f->boxes.expect(Warning, note.mid(Finished.size() + 1));
        upgradeTo(note);
        f->page->hide(); // to another page and back: the page shows what it showed
        f->page->show();
        QVERIFY(f->shown("widgetUpg"));
        QCOMPARE(f->text("lbNote"), note);
        QCOMPARE(f->text("lbFirmware"), firmwareShown);
        QCOMPARE(f->bar()->value(), 100);
        QVERIFY(f->widget<QToolButton>("btnSelectBinFile")->isEnabled());
        VERIFY_BOXES(f->boxes);

        const bool upgraded = firmwareShown.endsWith(QLatin1String("1_0_6"));
        const QString previousVersion = QStringLiteral("Merlow_R_Sky_1_0_5.img");
        if (upgraded)
            f->boxes.expect(Warning, QStringLiteral("升级固件版本过低！请检查！"));
        f->choose(f->writeFile(previousVersion, TestBytes::pattern(64)));
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->bar()->format() == previousVersion, !upgraded);

        QObject::disconnect(&sim, &DeviceSimulator::rebooting, &sim, nullptr);
        sim.setSilent(false);
        sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithNewFirmware);
        f->choose(f->writeFile(ImageName, TestBytes::pattern(1024)));
        upgradeTo(Verified);
        QCOMPARE(f->text("lbFirmware"), QStringLiteral("Merlow_R_Sky_1_0_6"));
    }

    void restartCheck_endsForTheUsersNextAction_data()
    {
        QTest::addColumn<QString>("button"); // empty: a console command
        QTest::addColumn<QString>("noteAfter");
        QTest::addColumn<int>("choices");
        QTest::newRow("choose a file") << "btnSelectBinFile" << Finished << 2;
        QTest::newRow("disconnect") << "btnDisConnDevice" << QString() << 1;
        QTest::newRow("console command") << QString() << Finished << 1;
    }

    // The user need not wait for a device that takes long to restart: the next
    // action ends the check at once, with no question, and nothing of it is
    // shown afterwards.
    void restartCheck_endsForTheUsersNextAction()
    {
        QFETCH(QString, button);
        QFETCH(QString, noteAfter);
        QFETCH(int, choices);
        // Fast, but the check waits for the device as long as the test needs
        // however slowly the machine gets to the user's action.
        struct PatientReturnClock : ScaledClock
        {
            PatientReturnClock() : ScaledClock(FastFactor) {}
            int realMs(int programMs) const override
            {
                return programMs >= UpgradeChannel::ReconnectLimitMs ? AwayRebootMs : ScaledClock::realMs(programMs);
            }
        };
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(1024), QuickRebootMs,
                         std::make_shared<PatientReturnClock>());
        DeviceSimulator &sim = f->device->sim;
        onSelfRestart(sim, [&sim] { sim.setRebootDelay(AwayRebootMs); });
        f->click("btnUpgrade");
        QTRY_VERIFY_WITH_TIMEOUT(f->text("lbNote").startsWith(Finished + QStringLiteral(" 正在等待设备重启后验证固件")),
                                 UpgradeTimeoutMs);
        QTRY_VERIFY(!sim.isPresent()); // restarting, for long
        f->chooseFile(QString());
        if (button.isEmpty()) {
            QSignalSpy done(f->page.get(), &UpgradePage::consoleCommandDone);
            f->boxes.expect(Hint, ConnectUsb); // the device is still away
            f->page->handleTextFromSettingPage(QStringLiteral("4F"));
            QTRY_COMPARE(done.count(), 1);
        } else {
            f->click(qPrintable(button));
        }
        VERIFY_BOXES(f->boxes);
        // Ended, not run to its limit while the device is still away.
        QVERIFY(!sim.isPresent() && !f->log.contains(QStringLiteral("restart check failed")));
        QVERIFY(!f->page->worker()->isSequenceRunning());
        QVERIFY(f->page->isEnabled());
        QCoreApplication::processEvents();
        if (!noteAfter.isEmpty())
            QCOMPARE(f->text("lbNote"), noteAfter);
        QCOMPARE(f->shown("widgetConn"), noteAfter.isEmpty());
        QCOMPARE(f->chooserCalls, choices);
    }

private:
    void connectAndChoose(quint16 vid, const QByteArray &image, int rebootDelayMs,
                          std::shared_ptr<const UpgradeClock> clock);
    // An upgrade whose device is away rebooting, so the sequence waits.

    void startWaitingUpgrade()
    {
        connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(1024), AwayRebootMs,
                         std::make_shared<ScaledClock>(WaitingFactor));
        f->click("btnUpgrade");
        // The device went away to reboot: the sequence now waits for it.
        QTRY_COMPARE(f->device->sim.rebootCount(), 1);
        QVERIFY(f->page->worker()->isSequenceRunning());
        QVERIFY(f->page->getUpgradeFlag());
    }
    // Presses Upgrade and waits for the page to show how it ended.

    void upgradeTo(const QString &note)
    {
        f->click("btnUpgrade");
        QTRY_COMPARE_WITH_TIMEOUT(f->text("lbNote"), note, UpgradeTimeoutMs);
        QTRY_VERIFY(!f->page->worker()->isSequenceRunning());
    }

    std::unique_ptr<PageFixture> f;
};

void TestUpgradePage::connectAndChoose(quint16 vid, const QByteArray &image, int rebootDelayMs,
                                       std::shared_ptr<const UpgradeClock> clock)
{
    QVERIFY(f->startDevice(identityOf(vid)));
    f->device->sim.setRebootDelay(rebootDelayMs);
    f->makePage(nullptr, std::move(clock));
    f->connectTo(vid);
    QVERIFY(f->shown("widgetUpg"));
    f->choose(f->writeFile(ImageName, image));
    QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
}

QTEST_MAIN(TestUpgradePage)
#include "tst_upgradepage.moc"

#include "testbytes.h"
#include "upgradepage_fixture.h"
#include "upgradeprocess.h"

#include <QElapsedTimer>

using namespace PageTexts;

namespace {
constexpr int FastFactor = 100;       // the worker's 5 s pauses take 50 ms
// A waiting upgrade gives up on the device after 300 s of its time: 30 s
// here, longer than any test takes to act on it, however loaded the machine.
constexpr int WaitingFactor = 10;
constexpr int QuickRebootMs = 200;
constexpr int AwayRebootMs = 600000;  // the device stays away while a test acts
constexpr int UpgradeTimeoutMs = 30000;
constexpr int NamePauseMs = 200;
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img");
const QString WaitingStatus = QStringLiteral("正在等待设备重启……已等待35秒");

// The note while an upgrade runs: the upgrading text, or what the worker is
// waiting for (it reports its waits as they go on).
bool notesAnUpgrade(const QString &note)
{
    return note == Upgrading || note.startsWith(QStringLiteral("正在等待"));
}


DeviceIdentity identityOf(quint16 vid, int cpuTemp = DeviceIdentity().cpuTemp)
{
    DeviceIdentity identity;
    identity.vendorId = vid;
    identity.cpuTemp = cpuTemp;
    return identity;
}
} // namespace

class TestUpgradePage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void presence_namesTheDevice_data();
    void presence_namesTheDevice();
    void presence_pausesOnlyWhenANamedUnitAppears_data();
    void presence_pausesOnlyWhenANamedUnitAppears();
    void showing_startsPresencePolling();
    void showing_duringAnUpgrade_keepsTheUpgradePanel();
    void closeRequest_isRefused();
    void construction_leavesNoSlotToAutoConnect();

    void connect_withoutDevice_warnsOnceAndSendsNothing_data();
    void connect_withoutDevice_warnsOnceAndSendsNothing();
    void connect_showsTheDeviceIdentity();
    void connect_toASilentDevice_warnsAndStaysOnThePrompt();
    void connect_deviceWithoutTemperature_givesUpAfterTenPasses();

    void fileChoice_refused_changesNothing_data();
    void fileChoice_refused_changesNothing();
    void fileChoice_acceptedOrCancelled_data();
    void fileChoice_acceptedOrCancelled();

    void progress_isShownAndCompletes_data();
    void progress_isShownAndCompletes();
    void hint_showsItsBoxThenTheNote();
    void failureReport_offersANewFileChoice();
    void waitingReport_showsInTheNoteWhileUpgrading_data();
    void waitingReport_showsInTheNoteWhileUpgrading();

    void confirmationNo_keepsTheUpgradeRunning_data();
    void confirmationNo_keepsTheUpgradeRunning();
    void confirmationYes_endsTheSequenceBeforeTheAction_data();
    void confirmationYes_endsTheSequenceBeforeTheAction();

    void languageChange_keepsTheIdentity_data();
    void languageChange_keepsTheIdentity();
    void destruction_duringAnUpgrade_endsTheSequenceFirst();

private:
    void connectAndChoose(quint16 vid, const QByteArray &image, int rebootDelayMs,
                          std::shared_ptr<const UpgradeClock> clock);
    // An upgrade whose device is away rebooting, so the sequence waits.
    void startWaitingUpgrade();

    std::unique_ptr<PageFixture> f;
};

void TestUpgradePage::init()
{
    f.reset(new PageFixture);
}

void TestUpgradePage::cleanup()
{
    f.reset();
}

void TestUpgradePage::connectAndChoose(quint16 vid, const QByteArray &image, int rebootDelayMs,
                                       std::shared_ptr<const UpgradeClock> clock)
{
    QVERIFY(f->startDevice(identityOf(vid)));
    f->device->sim.setRebootDelay(rebootDelayMs);
    f->makePage(nullptr, std::move(clock));
    f->connectTo(vid);
    QVERIFY(f->shown("widgetUpg"));
    f->chooseFile(f->writeFile(ImageName, image));
    f->click("btnSelectBinFile");
    QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());
}

void TestUpgradePage::startWaitingUpgrade()
{
    connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, TestBytes::pattern(1024), AwayRebootMs,
                     std::make_shared<ScaledClock>(WaitingFactor));
    f->click("btnUpgrade");
    // The device went away to reboot: the sequence now waits for it.
    QTRY_COMPARE(f->device->sim.rebootCount(), 1);
    QVERIFY(f->page->worker()->isSequenceRunning());
    QVERIFY(f->page->getUpgradeFlag());
}

// ---- presence -----------------------------------------------------------------------

void TestUpgradePage::presence_namesTheDevice_data()
{
    QTest::addColumn<int>("vid");
    QTest::addColumn<QString>("configured"); // the name in the settings file
    QTest::addColumn<QString>("name");
    const QString quad = QStringLiteral("My Quad");
    QTest::newRow("configured name") << 7532 << quad << quad;
    QTest::newRow("configured name of an unknown board") << 7543 << quad << quad;
    QTest::newRow("ground EX5 keeps its own name") << 7541 << quad << "Merlow Gnd";
    QTest::newRow("sky EX6 keeps its own name") << 7542 << quad << "Merlow Sky";
    QTest::newRow("none") << 0 << QString() << "NO Device";
    QTest::newRow("first ground unit") << 7531 << QString() << "Merlow Gnd";
    QTest::newRow("first sky unit") << 7532 << QString() << "Merlow Sky";
    QTest::newRow("sky 482") << 7533 << QString() << "Merlow Sky";
    QTest::newRow("GT ground") << 7535 << QString() << "Merlow Gnd";
    QTest::newRow("GT sky") << 7536 << QString() << "Merlow Sky";
    QTest::newRow("ground EX3") << 7539 << QString() << "Merlow Gnd";
    QTest::newRow("sky EX4") << 7540 << QString() << "Merlow Sky";
    QTest::newRow("ground EX5") << 7541 << QString() << "Merlow Gnd";
    QTest::newRow("sky EX6") << 7542 << QString() << "Merlow Sky";
    QTest::newRow("invalid board") << 7543 << QString() << "Merlow FPV";
    QTest::newRow("unknown identifier") << 1234 << QString() << "Merlow FPV";
}

void TestUpgradePage::presence_namesTheDevice()
{
    QFETCH(int, vid);
    QFETCH(QString, configured);
    QFETCH(QString, name);
    if (!configured.isEmpty())
        f->writeDeviceName(quint16(vid), configured);
    UpgradePage *page = f->makePage();
    page->handleDeviceDetected(quint16(vid));
    QCOMPARE(f->text("lbConnNote"), name);
    QCOMPARE(f->plainLink->get_usb_vid(), vid);
}

void TestUpgradePage::presence_pausesOnlyWhenANamedUnitAppears_data()
{
    QTest::addColumn<int>("vid");
    QTest::addColumn<QString>("name");
    QTest::newRow("ground EX5") << 7541 << "Merlow Gnd";
    QTest::newRow("sky EX6") << 7542 << "Merlow Sky";
}

void TestUpgradePage::presence_pausesOnlyWhenANamedUnitAppears()
{
    QFETCH(int, vid);
    QFETCH(QString, name);
    UpgradePage *page = f->makePage();
    QElapsedTimer timer;
    timer.start();
    page->handleDeviceDetected(quint16(vid));
    QVERIFY(timer.elapsed() >= NamePauseMs);
    QCOMPARE(f->text("lbConnNote"), name);

    timer.restart();
    page->handleDeviceDetected(quint16(vid));
    QVERIFY2(timer.elapsed() < NamePauseMs / 2, "a unit that stays is not paused for again");
    QCOMPARE(f->text("lbConnNote"), name);
}

void TestUpgradePage::showing_startsPresencePolling()
{
    QVERIFY(f->startDevice(identityOf(AR_FPV_BOARD_TYPE_GT_GND)));
    UpgradePage *page = f->makePage();
    QCOMPARE(f->text("lbConnNote"), QStringLiteral("NO Device"));
    page->show();
    QVERIFY(f->shown("widgetConn"));
    QVERIFY(f->shown("btnConnDevice"));
    QVERIFY(!f->shown("widgetUpg"));
    QVERIFY(!f->shown("btnUsb"));
    QTRY_COMPARE(f->text("lbConnNote"), QStringLiteral("Merlow Gnd"));
}

void TestUpgradePage::showing_duringAnUpgrade_keepsTheUpgradePanel()
{
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(true);
    page->show();
    QVERIFY(f->shown("widgetUpg"));
    QVERIFY(!f->shown("widgetConn"));
    QVERIFY(!f->shown("btnConnDevice"));
}

void TestUpgradePage::closeRequest_isRefused()
{
    UpgradePage *page = f->makePage();
    page->show();
    QVERIFY(!page->close());
    QVERIFY(page->isVisible());
}

// The form connects on_<widget>_<signal> slots by name and warns about any
// other slot named like that.
void TestUpgradePage::construction_leavesNoSlotToAutoConnect()
{
    f->makePage();
    const QStringList warnings = f->log.matching(QStringLiteral("connectSlotsByName"));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

// ---- connect ------------------------------------------------------------------------

void TestUpgradePage::connect_withoutDevice_warnsOnceAndSendsNothing_data()
{
    QTest::addColumn<QString>("configuredName");
    QTest::newRow("nothing attached") << QString();
    QTest::newRow("lower case") << "no device";
    QTest::newRow("mixed case") << "No DeVice";
}

void TestUpgradePage::connect_withoutDevice_warnsOnceAndSendsNothing()
{
    QFETCH(QString, configuredName);
    QVERIFY(f->startDevice());
    const quint16 vid = configuredName.isEmpty() ? 0 : AR_FPV_BOARD_TYPE_GT_SKY;
    if (!configuredName.isEmpty())
        f->writeDeviceName(vid, configuredName);
    f->makePage();
    f->boxes.expect(Hint, ConnectUsb);
    // Pressing again while the box is open adds no second one.
    f->boxes.whileShown([this] { f->click("btnConnDevice"); });
    f->connectTo(vid);
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->device->sim.frames().isEmpty());
    QVERIFY(!f->shown("widgetUpg"));
}

void TestUpgradePage::connect_showsTheDeviceIdentity()
{
    QVERIFY(f->startDevice());
    f->makePage();
    f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->device->commands(), QList<quint32>{AR_COMMAND_FIND_DEVICE});
    QVERIFY(f->shown("widgetUpg"));
    QVERIFY(!f->shown("widgetConn"));
    QCOMPARE(f->text("lbHardware"), QStringLiteral("HW_V1.0"));
    QCOMPARE(f->text("lbSn"), QStringLiteral("SN0001"));
    QCOMPARE(f->text("lbFirmware"), QStringLiteral("Merlow_R_Sky_1_0_5"));
    QCOMPARE(f->text("lbChipTemp"), QStringLiteral("45\u00B0C"));
    QCOMPARE(f->text("label_3"), QStringLiteral("Merlow R Sky"));
    QCOMPARE(f->text("lbNote"), QString());
    QVERIFY(!f->widget<QToolButton>("btnUpgrade")->isEnabled());
    QVERIFY(f->widget<QToolButton>("btnSelectBinFile")->isEnabled());
    QCOMPARE(f->bar()->value(), 0);
    QCOMPARE(f->bar()->format(), LoadFirmware);
}

void TestUpgradePage::connect_toASilentDevice_warnsAndStaysOnThePrompt()
{
    QVERIFY(f->startDevice());
    f->device->sim.setSilent(true);
    f->makePage();
    f->boxes.expect(Warning, NoCommunication);
    f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->device->commands(), QList<quint32>{AR_COMMAND_FIND_DEVICE});
    QVERIFY(f->shown("widgetConn"));
    QVERIFY(!f->shown("widgetUpg"));
}

void TestUpgradePage::connect_deviceWithoutTemperature_givesUpAfterTenPasses()
{
    // Every reply still says "not known": the wait must end on its own.
    QVERIFY(f->startDevice(identityOf(AR_FPV_BOARD_TYPE_GT_SKY, -100)));
    f->makePage();
    f->boxes.expect(Hint, ConnectUsb);
    QElapsedTimer timer;
    timer.start();
    f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
    QVERIFY(timer.elapsed() >= 1000);
    QVERIFY(timer.elapsed() < 5000);
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->shown("widgetConn"));
    QCOMPARE(f->text("lbFirmware"), QString());
}

// ---- file choice --------------------------------------------------------------------

void TestUpgradePage::fileChoice_refused_changesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("not an image name") << "Merlow_R_Sky_1_0_6.bin" << "升级固件文件名错误！";
    QTest::newRow("other device") << "Merlow_R_Gnd_1_0_6.img" << "升级固件与设备不匹配！请检查！";
    QTest::newRow("older version") << "Merlow_R_Sky_1_0_4.img" << "升级固件版本过低！请检查！";
}

// The upgrade that follows sends the file accepted before, not the refused one.
void TestUpgradePage::fileChoice_refused_changesNothing()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    const QByteArray accepted = TestBytes::pattern(1024, 1);
    connectAndChoose(AR_FPV_BOARD_TYPE_GT_SKY, accepted, QuickRebootMs,
                     std::make_shared<ScaledClock>(FastFactor));
    f->chooseFile(f->writeFile(name, TestBytes::pattern(1024, 2)));
    f->boxes.expect(Warning, text);
    f->click("btnSelectBinFile");
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->bar()->format(), ImageName);
    QVERIFY(f->widget<QToolButton>("btnUpgrade")->isEnabled());

    f->click("btnUpgrade");
    QTRY_COMPARE_WITH_TIMEOUT(f->text("lbNote"), Finished, UpgradeTimeoutMs);
    const QList<SimReceivedFile> received = f->device->sim.receivedFiles();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.first().data, accepted);
}

void TestUpgradePage::fileChoice_acceptedOrCancelled_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("barText");
    QTest::newRow("accepted: its name on the bar") << false << ImageName;
    QTest::newRow("cancelled: nothing changes") << true << LoadFirmware;
}

void TestUpgradePage::fileChoice_acceptedOrCancelled()
{
    QFETCH(bool, cancel);
    QFETCH(QString, barText);
    QVERIFY(f->startDevice());
    f->makePage();
    f->connectTo(AR_FPV_BOARD_TYPE_GT_SKY);
    QVERIFY(!f->widget<QToolButton>("btnUpgrade")->isEnabled());
    f->chooseFile(cancel ? QString() : f->writeFile(ImageName, TestBytes::pattern(64)));
    f->click("btnSelectBinFile");
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->chooserCalls, 1);
    QCOMPARE(f->bar()->format(), barText);
    QCOMPARE(f->widget<QToolButton>("btnUpgrade")->isEnabled(), !cancel);
}

// ---- the upgrade --------------------------------------------------------------------

void TestUpgradePage::progress_isShownAndCompletes_data()
{
    QTest::addColumn<int>("reported");
    QTest::addColumn<int>("shown");
    QTest::addColumn<bool>("complete");
    QTest::newRow("start") << 0 << 0 << false;
    QTest::newRow("1 shows as 5") << 1 << 5 << false;
    QTest::newRow("4 shows as 5") << 4 << 5 << false;
    QTest::newRow("5") << 5 << 5 << false;
    QTest::newRow("99") << 99 << 99 << false;
    QTest::newRow("100 completes") << 100 << 100 << true;
}

void TestUpgradePage::progress_isShownAndCompletes()
{
    QFETCH(int, reported);
    QFETCH(int, shown);
    QFETCH(bool, complete);
    UpgradePage *page = f->makePage();
    f->widget<QToolButton>("btnUpgrade")->setEnabled(true);
    f->widget<QToolButton>("btnSelectBinFile")->setEnabled(false);
    page->setUpgradeFlag(true);

    page->onUpgradeProgress(reported);
    QCOMPARE(f->bar()->value(), shown);
    QCOMPARE(f->bar()->format(), QStringLiteral("%1%").arg(shown));
    QCOMPARE(f->text("lbNote"), complete ? Finished : QString());
    QCOMPARE(page->getUpgradeFlag(), !complete);
    QCOMPARE(f->widget<QToolButton>("btnUpgrade")->isEnabled(), !complete);
    QCOMPARE(f->widget<QToolButton>("btnSelectBinFile")->isEnabled(), complete);
}

void TestUpgradePage::hint_showsItsBoxThenTheNote()
{
    const QString message = QStringLiteral("升级超时，请重启设备再次升级。");
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(true);
    QString noteWhileShown;
    f->boxes.expect(Warning, message);
    f->boxes.whileShown([&] { noteWhileShown = f->text("lbNote"); });
    page->on_upgrade_process_hint(message, true);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(noteWhileShown, QString());
    QCOMPARE(f->text("lbNote"), message);
    QVERIFY(!page->getUpgradeFlag());
}

void TestUpgradePage::failureReport_offersANewFileChoice()
{
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(true);
    f->widget<QToolButton>("btnSelectBinFile")->setEnabled(false);
    page->on_upgrade_process_hint(QStringLiteral("ignored"), false);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->text("lbNote"), QStringLiteral("升级失败，请检查文件重新导入"));
    QVERIFY(f->widget<QToolButton>("btnSelectBinFile")->isEnabled());
    QVERIFY(page->getUpgradeFlag());
}

void TestUpgradePage::waitingReport_showsInTheNoteWhileUpgrading_data()
{
    QTest::addColumn<bool>("upgrading");
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<QString>("note");
    QTest::newRow("a wait is shown") << true << QStringList{WaitingStatus} << WaitingStatus;
    QTest::newRow("its end brings the upgrading note back")
        << true << QStringList{WaitingStatus, QString()} << Upgrading;
    QTest::newRow("ignored without an upgrade") << false << QStringList{WaitingStatus} << Finished;
}

void TestUpgradePage::waitingReport_showsInTheNoteWhileUpgrading()
{
    QFETCH(bool, upgrading);
    QFETCH(QStringList, reports);
    QFETCH(QString, note);
    UpgradePage *page = f->makePage();
    page->onUpgradeProgress(100); // a note that an ignored report must leave alone
    page->setUpgradeFlag(upgrading);
    for (const QString &report : reports)
        emit page->worker()->sigUpgradeWaiting(report);
    QCoreApplication::sendPostedEvents(page, QEvent::MetaCall); // they arrive queued
    QCOMPARE(f->text("lbNote"), note);
    VERIFY_BOXES(f->boxes);
}

// ---- confirmation while upgrading ---------------------------------------------------

void TestUpgradePage::confirmationNo_keepsTheUpgradeRunning_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("disconnect") << "btnDisConnDevice";
    QTest::newRow("choose file") << "btnSelectBinFile";
    QTest::newRow("upgrade") << "btnUpgrade";
}

void TestUpgradePage::confirmationNo_keepsTheUpgradeRunning()
{
    QFETCH(QString, button);
    startWaitingUpgrade();
    const int choicesBefore = f->chooserCalls;
    f->boxes.expect(Hint, StillUpgrading, QMessageBox::No);
    f->click(qPrintable(button));
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->page->getUpgradeFlag());
    QVERIFY2(notesAnUpgrade(f->text("lbNote")), qPrintable(f->text("lbNote")));
    QVERIFY(f->shown("widgetUpg"));
    QCOMPARE(f->chooserCalls, choicesBefore);
    QVERIFY(f->page->worker()->isSequenceRunning());
    QVERIFY(f->page->worker()->beRun());
}

void TestUpgradePage::confirmationYes_endsTheSequenceBeforeTheAction_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("upgradingAfter");
    QTest::addColumn<bool>("connectPromptAfter");
    QTest::addColumn<int>("choices");
    QTest::newRow("disconnect") << "btnDisConnDevice" << false << true << 0;
    QTest::newRow("choose file") << "btnSelectBinFile" << false << false << 1;
    QTest::newRow("upgrade") << "btnUpgrade" << true << false << 0;
}

void TestUpgradePage::confirmationYes_endsTheSequenceBeforeTheAction()
{
    QFETCH(QString, button);
    QFETCH(bool, upgradingAfter);
    QFETCH(bool, connectPromptAfter);
    QFETCH(int, choices);
    startWaitingUpgrade();
    const int choicesBefore = f->chooserCalls;
    f->chooseFile(QString()); // a new choice is cancelled
    f->boxes.expect(Hint, StillUpgrading, QMessageBox::Yes);
    f->click(qPrintable(button));
    VERIFY_BOXES(f->boxes);

    QVERIFY(f->page->isEnabled());
    QCOMPARE(f->page->getUpgradeFlag(), upgradingAfter);
    QCOMPARE(f->shown("widgetConn"), connectPromptAfter);
    QCOMPARE(f->chooserCalls - choicesBefore, choices);
    if (!upgradingAfter) {
        // The first sequence ended before the button's own action went ahead.
        QVERIFY(!f->page->worker()->isSequenceRunning());
    } else {
        // A new sequence, not the ended one, takes the device once it is back:
        // it asks for a reboot of its own and finishes.
        QCOMPARE(f->text("lbNote"), Upgrading);
        f->device->sim.setRebootDelay(QuickRebootMs);
        f->device->sim.reappear();
        QTRY_COMPARE_WITH_TIMEOUT(f->text("lbNote"), Finished, UpgradeTimeoutMs);
        QCOMPARE(f->device->sim.rebootCount(), 2);
        QCOMPARE(f->device->sim.receivedFiles().size(), 1);
    }
    if (connectPromptAfter) {
        QVERIFY(!f->device->link->SerialPortIsOpen());
        QCOMPARE(f->device->link->get_usb_vid(), 0);
        QCOMPARE(m_upgrade_device_vid.load(), 0);
    }
}

// ---- language and lifetime ----------------------------------------------------------

void TestUpgradePage::languageChange_keepsTheIdentity_data()
{
    QTest::addColumn<int>("vid");
    QTest::addColumn<QString>("nameAfter");
    QTest::newRow("ground EX5 keeps its name") << int(AR_FPV_BOARD_TYPE_GND_EX5) << "Merlow Gnd";
    QTest::newRow("others wait for the next report") << int(AR_FPV_BOARD_TYPE_GT_SKY) << "NO Device";
}

void TestUpgradePage::languageChange_keepsTheIdentity()
{
    QFETCH(int, vid);
    QFETCH(QString, nameAfter);
    QVERIFY(f->startDevice(identityOf(quint16(vid))));
    UpgradePage *page = f->makePage();
    f->connectTo(quint16(vid));
    page->onUpgradeProgress(100);
    QCOMPARE(f->text("lbNote"), Finished);

    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(page, &change);
    QCOMPARE(f->text("lbHardware"), QStringLiteral("HW_V1.0"));
    QCOMPARE(f->text("lbSn"), QStringLiteral("SN0001"));
    QCOMPARE(f->text("lbFirmware"), QStringLiteral("Merlow_R_Sky_1_0_5"));
    QCOMPARE(f->text("lbChipTemp"), QStringLiteral("45\u00B0C"));
    QCOMPARE(f->text("lbNote"), QString());
    QCOMPARE(f->text("label_3"), QStringLiteral("Merlow FPV"));
    QCOMPARE(f->text("lbConnNote"), nameAfter);
}

// The sequence uses the worker and the link: the page ends it and waits for
// it before the worker goes (a sanitizer build sees any use after that).
void TestUpgradePage::destruction_duringAnUpgrade_endsTheSequenceFirst()
{
    startWaitingUpgrade();
    f->page.reset();
    QVERIFY(!f->device->link->isSerialRecvStarted());
    QCOMPARE(f->device->link->get_usb_vid(), 0);
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    VERIFY_BOXES(f->boxes);
}

QTEST_MAIN(TestUpgradePage)
#include "tst_upgradepage.moc"

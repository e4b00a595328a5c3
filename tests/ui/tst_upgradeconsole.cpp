#include "consolecommand.h"
#include "upgradepage_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>

using namespace PageTexts;

namespace {
constexpr int RecordBytes = 28;
constexpr int ConsoleTransmissions = 5;
const QString SendSucceeded = QStringLiteral("发送成功");
const QString SendFailed = QStringLiteral("发送失败,请连接USB设备");
const QString UpgradeRunning = QStringLiteral("升级进行中，无法发送命令");
const QString MissingPortPath = QStringLiteral("/nonexistent/tavio-port");

QByteArray record(const QByteArray &start)
{
    return start + QByteArray(RecordBytes - start.size(), '\0');
}

// Counts the link's port searches.
class CountingPortLister : public FixedPortLister
{
public:
    using FixedPortLister::FixedPortLister;
    QList<SerialPortDescription> availablePorts() const override
    {
        ++searches;
        return FixedPortLister::availablePorts();
    }
    mutable std::atomic<int> searches{0};
};

QByteArray countingBytes(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char(i + 1));
    return bytes;
}
} // namespace

// The settings page's console command and the page's command sender.
class TestUpgradeConsole : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void console_sendsTheTypedHexAsTheRecord_data();
    void console_sendsTheTypedHexAsTheRecord();
    void console_longerThanTheRecord_sendsItsStartAndSaysSo();
    void console_typedOnTheSettingsPage_reachesTheDevice();
    void console_duringAnUpgrade_isRefusedEvenWithoutDevice();
    void console_malformed_warnsAndTouchesNoPort_data();
    void console_malformed_warnsAndTouchesNoPort();
    void console_withoutDevice_asksForItAndSendsNothing();
    void console_whileAPortWarningIsOpen_addsNoSecondBox();
    void console_refusedFiveTimes_warnsOnce();
    void console_silentDevice_warnsOnceAfterFiveTransmissions();

    void sender_acknowledged_returnsZeroSilently();
    void sender_failures_warnOnlyWhenAllowed_data();
    void sender_failures_warnOnlyWhenAllowed();
    void sender_duringAnUpgrade_failsWithoutTouchingThePort();

private:
    std::unique_ptr<PageFixture> f;
};

void TestUpgradeConsole::init()
{
    f.reset(new PageFixture);
}

void TestUpgradeConsole::cleanup()
{
    f.reset();
}

// ---- the console --------------------------------------------------------------------

void TestUpgradeConsole::console_sendsTheTypedHexAsTheRecord_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("payload");
    const QByteArray otra = QByteArray::fromHex("4F545241");
    QTest::newRow("with spaces") << "4F 54 52 41" << record(otra);
    QTest::newRow("without spaces") << "4F545241" << record(otra);
    QTest::newRow("lower case") << "4f545241" << record(otra);
    QTest::newRow("groups of two bytes") << "4F54 5241" << record(otra);
    QTest::newRow("exactly the record")
        << QString::fromLatin1(countingBytes(RecordBytes).toHex()) << countingBytes(RecordBytes);
}

void TestUpgradeConsole::console_sendsTheTypedHexAsTheRecord()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, payload);
    QVERIFY(f->startDevice());
    UpgradePage *page = f->makePage();
    f->boxes.expect(Hint, SendSucceeded);
    page->handleTextFromSettingPage(typed);
    VERIFY_BOXES(f->boxes);
    const QList<SimFrameRecord> sent = f->device->requestsOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().length, quint32(RecordBytes));
    QCOMPARE(sent.first().payload, payload);
}

void TestUpgradeConsole::console_longerThanTheRecord_sendsItsStartAndSaysSo()
{
    QVERIFY(f->startDevice());
    f->settingPage.reset(new SettingPage);
    UpgradePage *page = f->makePage(f->settingPage.get());
    const QByteArray typed = countingBytes(40);
    f->boxes.expect(Hint, SendSucceeded);
    page->handleTextFromSettingPage(QString::fromLatin1(typed.toHex(' ')));
    VERIFY_BOXES(f->boxes);
    const QList<SimFrameRecord> sent = f->device->requestsOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().payload, typed.left(RecordBytes));
    const QString view = f->settingPage->findChild<QPlainTextEdit *>()->toPlainText();
    QVERIFY2(view.contains(QStringLiteral("控制台命令：只发送了前28个字节（共40个）")), qPrintable(view));
}

void TestUpgradeConsole::console_typedOnTheSettingsPage_reachesTheDevice()
{
    QVERIFY(f->startDevice());
    f->settingPage.reset(new SettingPage);
    f->makePage(f->settingPage.get());
    f->settingPage->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(QStringLiteral("4F 54"));
    f->boxes.expect(Hint, SendSucceeded);
    f->settingPage->findChild<QToolButton *>(QStringLiteral("SerialSendBtn"))->click();
    VERIFY_BOXES(f->boxes);
    const QList<SimFrameRecord> sent = f->device->requestsOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().payload, record(QByteArray::fromHex("4F54")));
}

void TestUpgradeConsole::console_duringAnUpgrade_isRefusedEvenWithoutDevice()
{
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(true);
    f->boxes.expect(Warning, UpgradeRunning);
    page->handleTextFromSettingPage(QStringLiteral("4F 54 52 41"));
    VERIFY_BOXES(f->boxes);
}

void TestUpgradeConsole::console_malformed_warnsAndTouchesNoPort_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("upgrading");
    QTest::newRow("odd digits") << "4F 54 5" << false;
    QTest::newRow("hex prefix") << "0x4F" << false;
    QTest::newRow("only whitespace") << " \t " << false;
    // The typo is what the user must fix first, upgrade or not.
    QTest::newRow("odd digits during an upgrade") << "4F5" << true;
}

void TestUpgradeConsole::console_malformed_warnsAndTouchesNoPort()
{
    QFETCH(QString, typed);
    QFETCH(bool, upgrading);
    auto ports = std::make_shared<CountingPortLister>(
        QList<SerialPortDescription>{{MissingPortPath, QString(), AR_FPV_BOARD_TYPE_GT_SKY}});
    f->plainPorts = ports;
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(upgrading);
    QByteArray bytes;
    QString error;
    QVERIFY(!ConsoleCommand::parse(typed, &bytes, &error));
    const int searchesBefore = ports->searches.load();
    f->boxes.expect(Warning, error);
    page->handleTextFromSettingPage(typed);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(ports->searches.load(), searchesBefore);
}

void TestUpgradeConsole::console_withoutDevice_asksForItAndSendsNothing()
{
    QVERIFY(f->startDevice());
    f->device->sim.vanish();
    UpgradePage *page = f->makePage();
    f->boxes.expect(Hint, ConnectUsb);
    page->handleTextFromSettingPage(QStringLiteral("4F 54 52 41"));
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->device->sim.frames().isEmpty());
}

void TestUpgradeConsole::console_whileAPortWarningIsOpen_addsNoSecondBox()
{
    UpgradePage *page = f->makePage();
    f->boxes.expect(Hint, ConnectUsb);
    f->boxes.whileShown([page] { page->handleTextFromSettingPage(QStringLiteral("4F")); });
    f->click("btnConnDevice");
    VERIFY_BOXES(f->boxes);
}

void TestUpgradeConsole::console_refusedFiveTimes_warnsOnce()
{
    QVERIFY(f->startDevice());
    f->device->sim.refuseNext(ConsoleTransmissions, AR_COMMAND_SEND_TEXT);
    UpgradePage *page = f->makePage();
    f->boxes.expect(Warning, SendFailed);
    page->handleTextFromSettingPage(QStringLiteral("4F 54 52 41"));
    VERIFY_BOXES(f->boxes);
    // Every transmission the link allows, all of the one request.
    const QList<SimFrameRecord> sent = f->device->framesOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), ConsoleTransmissions);
    QCOMPARE(firstTransmissions(sent).size(), 1);
}

void TestUpgradeConsole::console_silentDevice_warnsOnceAfterFiveTransmissions()
{
    // The real acknowledgement wait: five times two seconds.
    QVERIFY(f->startDevice());
    f->device->sim.setSilent(true);
    UpgradePage *page = f->makePage();
    f->boxes.expect(Warning, SendFailed);
    page->handleTextFromSettingPage(QStringLiteral("4F 54 52 41"));
    VERIFY_BOXES(f->boxes);
    // Every transmission the link allows, all of the one request.
    const QList<SimFrameRecord> sent = f->device->framesOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), ConsoleTransmissions);
    QCOMPARE(firstTransmissions(sent).size(), 1);
}

// ---- the page command sender --------------------------------------------------------

void TestUpgradeConsole::sender_acknowledged_returnsZeroSilently()
{
    QVERIFY(f->startDevice());
    UpgradePage *page = f->makePage();
    QCOMPARE(page->sendComandSafe(AR_COMMAND_FIND_DEVICE, 1, true), 0);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(f->device->commands(), QList<quint32>{AR_COMMAND_FIND_DEVICE});
    QVERIFY(f->device->link->SerialPortIsOpen());
    QVERIFY(f->device->link->isSerialRecvStarted());
}

void TestUpgradeConsole::sender_failures_warnOnlyWhenAllowed_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("warnings");
    QTest::addColumn<QString>("expectedText");
    QTest::newRow("no port, warnings on") << "no port" << true << ConnectUsb;
    QTest::newRow("no port, warnings off") << "no port" << false << ConnectUsb;
    QTest::newRow("port does not open, warnings on") << "unopenable" << true << CannotOpen;
    QTest::newRow("port does not open, warnings off") << "unopenable" << false << QString();
    QTest::newRow("silent device, warnings on") << "silent" << true << NoCommunication;
    QTest::newRow("silent device, warnings off") << "silent" << false << QString();
}

void TestUpgradeConsole::sender_failures_warnOnlyWhenAllowed()
{
    QFETCH(QString, situation);
    QFETCH(bool, warnings);
    QFETCH(QString, expectedText);
    if (situation == QLatin1String("silent")) {
        QVERIFY(f->startDevice());
        f->device->sim.setSilent(true);
    } else if (situation == QLatin1String("unopenable")) {
        f->plainPorts->setPorts({{MissingPortPath, QString(), AR_FPV_BOARD_TYPE_GT_SKY}});
    }
    UpgradePage *page = f->makePage();
    if (!expectedText.isEmpty())
        f->boxes.expect(expectedText == ConnectUsb ? Hint : Warning, expectedText);
    QCOMPARE(page->sendComandSafe(AR_COMMAND_FIND_DEVICE, 1, warnings), -1);
    VERIFY_BOXES(f->boxes);
}

void TestUpgradeConsole::sender_duringAnUpgrade_failsWithoutTouchingThePort()
{
    QVERIFY(f->startDevice());
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(true);
    QCOMPARE(page->sendComandSafe(AR_COMMAND_FIND_DEVICE, 1, true), -1);
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->device->sim.frames().isEmpty());
    QVERIFY(!f->device->link->SerialPortIsOpen());
}

QTEST_MAIN(TestUpgradeConsole)
#include "tst_upgradeconsole.moc"

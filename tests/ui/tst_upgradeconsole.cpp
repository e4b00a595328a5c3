#include "consolecommand.h"
#include "testbytes.h"
#include "upgradepage_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>

using namespace PageTexts;

namespace {
constexpr int RecordBytes = 28;
constexpr int ConsoleTransmissions = 5;
constexpr int ConsoleResultMs = 15000; // five silent waits of 2 s, and some
const QString SendSucceeded = QStringLiteral("发送成功");
const QString SendFailed = QStringLiteral("发送失败,请连接USB设备");
const QString UpgradeRunning = QStringLiteral("升级进行中，无法发送命令");
const QString MissingPortPath = QStringLiteral("/nonexistent/tavio-port");

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
} // namespace

// The settings page's console command and the page's command sender.
class TestUpgradeConsole : public QObject
{
    Q_OBJECT

private slots:
    void init() { f.reset(new PageFixture); }
    void cleanup() { f.reset(); }

    void console_sendsTheTypedHexAsTheRecord_data();
    void console_sendsTheTypedHexAsTheRecord();
    void console_refusals_comeBeforeThePort_data();
    void console_refusals_comeBeforeThePort();
    void console_withoutDevice_asksForItOnceAndSendsNothing();
    void console_unacknowledged_warnsOnceAfterFiveTransmissions_data();
    void console_unacknowledged_warnsOnceAfterFiveTransmissions();

    void sender_outcomes_warnOnlyWhenAllowed_data();
    void sender_outcomes_warnOnlyWhenAllowed();

private:
    // Gives the console `typed` and waits for its outcome to be shown. The
    // page returns at once: the command goes out on the sender's thread.
    bool sendOnConsole(UpgradePage *page, const QString &typed)
    {
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        page->handleTextFromSettingPage(typed);
        if (!done.isEmpty())
            return false; // it was sent on the window's thread
        return done.wait(ConsoleResultMs);
    }

    std::unique_ptr<PageFixture> f;
};

// ---- the console --------------------------------------------------------------------

void TestUpgradeConsole::console_sendsTheTypedHexAsTheRecord_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("truncationNoted");
    const QByteArray full = TestBytes::pattern(RecordBytes);
    QTest::newRow("shorter: padded") << "4F 54 52 41" << QByteArray::fromHex("4F545241").leftJustified(RecordBytes, '\0')
                                     << false;
    QTest::newRow("exactly the record") << QString::fromLatin1(full.toHex()) << full << false;
    QTest::newRow("longer than the record")
        << QString::fromLatin1(TestBytes::pattern(40).toHex(' ')) << full << true;
}

// Typed on the settings page, sent off the window's thread.
void TestUpgradeConsole::console_sendsTheTypedHexAsTheRecord()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, payload);
    QFETCH(bool, truncationNoted);
    QVERIFY(f->startDevice());
    f->settingPage.reset(new SettingPage);
    UpgradePage *page = f->makePage(f->settingPage.get());
    QSignalSpy done(page, &UpgradePage::consoleCommandDone);
    f->settingPage->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(typed);
    f->boxes.expect(Hint, SendSucceeded);
    f->settingPage->findChild<QToolButton *>(QStringLiteral("SerialSendBtn"))->click();
    QVERIFY(done.isEmpty());
    QVERIFY(done.wait(ConsoleResultMs));
    VERIFY_BOXES(f->boxes);
    const QList<SimFrameRecord> sent = f->device->requestsOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().length, quint32(RecordBytes));
    QCOMPARE(sent.first().payload, payload);
    const QString view = f->settingPage->findChild<QPlainTextEdit *>()->toPlainText();
    QCOMPARE(!view.isEmpty(), truncationNoted);
}

// A typo first, then a running upgrade; neither looks for the port.
void TestUpgradeConsole::console_refusals_comeBeforeThePort_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("upgrading");
    QTest::newRow("odd digits") << "4F 54 5" << false;
    QTest::newRow("odd digits during an upgrade") << "4F5" << true;
    QTest::newRow("valid during an upgrade") << "4F 54 52 41" << true;
}

void TestUpgradeConsole::console_refusals_comeBeforeThePort()
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
    f->boxes.expect(Warning, ConsoleCommand::parse(typed, &bytes, &error) ? UpgradeRunning : error);
    QSignalSpy done(page, &UpgradePage::consoleCommandDone);
    const int searchesBefore = ports->searches.load();
    page->handleTextFromSettingPage(typed);
    VERIFY_BOXES(f->boxes);
    QCOMPARE(ports->searches.load(), searchesBefore);
    QVERIFY(done.isEmpty());
}

void TestUpgradeConsole::console_withoutDevice_asksForItOnceAndSendsNothing()
{
    QVERIFY(f->startDevice());
    f->device->sim.vanish();
    UpgradePage *page = f->makePage();
    f->boxes.expect(Hint, ConnectUsb);
    QVERIFY(sendOnConsole(page, QStringLiteral("4F 54 52 41")));
    VERIFY_BOXES(f->boxes);
    QVERIFY(f->device->sim.frames().isEmpty());

    // The console's outcome arrives while Connect's box is still open.
    bool answered = false;
    f->boxes.expect(Hint, ConnectUsb);
    f->boxes.whileShown([&] { answered = sendOnConsole(page, QStringLiteral("4F")); });
    f->click("btnConnDevice");
    QVERIFY(answered);
    VERIFY_BOXES(f->boxes);
}

void TestUpgradeConsole::console_unacknowledged_warnsOnceAfterFiveTransmissions_data()
{
    QTest::addColumn<bool>("silent"); // else the device refuses every transmission
    // A refusal is also the device's unknown error, reported by the worker
    // as soon as the first one arrives.
    QTest::addColumn<QString>("firstBox");
    QTest::newRow("refused") << false << QStringLiteral("升级错误：未知错误！请重启设备再次升级！");
    QTest::newRow("silent, the real two-second waits") << true << QString();
}

void TestUpgradeConsole::console_unacknowledged_warnsOnceAfterFiveTransmissions()
{
    QFETCH(bool, silent);
    QFETCH(QString, firstBox);
    QVERIFY(f->startDevice());
    if (silent)
        f->device->sim.setSilent(true);
    else
        f->device->sim.refuseNext(ConsoleTransmissions, AR_COMMAND_SEND_TEXT);
    UpgradePage *page = f->makePage();
    if (!firstBox.isEmpty())
        f->boxes.expect(Warning, firstBox);
    f->boxes.expect(Warning, SendFailed);
    QVERIFY(sendOnConsole(page, QStringLiteral("4F 54 52 41")));
    VERIFY_BOXES(f->boxes);
    // Every transmission the link allows, all of the one request.
    const QList<SimFrameRecord> sent = f->device->framesOf(AR_COMMAND_SEND_TEXT);
    QCOMPARE(sent.size(), ConsoleTransmissions);
    QCOMPARE(firstTransmissions(sent).size(), 1);
}

// ---- the page command sender --------------------------------------------------------

void TestUpgradeConsole::sender_outcomes_warnOnlyWhenAllowed_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("warnings");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("expectedText"); // empty: no box
    QTest::newRow("acknowledged") << "healthy" << true << 0 << QString();
    QTest::newRow("during an upgrade: the port is left alone") << "upgrading" << true << -1 << QString();
    QTest::newRow("no port, warnings on") << "no port" << true << -1 << ConnectUsb;
    QTest::newRow("no port, warnings off") << "no port" << false << -1 << ConnectUsb;
    QTest::newRow("port does not open, warnings on") << "unopenable" << true << -1 << CannotOpen;
    QTest::newRow("port does not open, warnings off") << "unopenable" << false << -1 << QString();
    QTest::newRow("silent device, warnings on") << "silent" << true << -1 << NoCommunication;
    QTest::newRow("silent device, warnings off") << "silent" << false << -1 << QString();
}

void TestUpgradeConsole::sender_outcomes_warnOnlyWhenAllowed()
{
    QFETCH(QString, situation);
    QFETCH(bool, warnings);
    QFETCH(int, result);
    QFETCH(QString, expectedText);
    if (situation == QLatin1String("unopenable")) {
        f->plainPorts->setPorts({{MissingPortPath, QString(), AR_FPV_BOARD_TYPE_GT_SKY}});
    } else if (situation != QLatin1String("no port")) {
        QVERIFY(f->startDevice());
        f->device->sim.setSilent(situation == QLatin1String("silent"));
    }
    UpgradePage *page = f->makePage();
    page->setUpgradeFlag(situation == QLatin1String("upgrading"));
    if (!expectedText.isEmpty())
        f->boxes.expect(expectedText == ConnectUsb ? Hint : Warning, expectedText);
    QCOMPARE(page->sendComandSafe(AR_COMMAND_FIND_DEVICE, 1, warnings), result);
    VERIFY_BOXES(f->boxes);
    if (situation == QLatin1String("upgrading")) {
        QVERIFY(f->device->sim.frames().isEmpty());
        QVERIFY(!f->device->link->SerialPortIsOpen());
    } else if (result == 0) {
        QCOMPARE(f->device->commands(), QList<quint32>{AR_COMMAND_FIND_DEVICE});
        QVERIFY(f->device->link->SerialPortIsOpen());
        QVERIFY(f->device->link->isSerialRecvStarted());
    }
}

QTEST_MAIN(TestUpgradeConsole)
#include "tst_upgradeconsole.moc"

#include "consolecommand.h"
#include "upgradepage_fixture.h"

#include <QLineEdit>
#include <QPlainTextEdit>

using namespace PageTexts;

namespace {
constexpr int RecordBytes = 28;
constexpr int ConsoleTransmissions = 5;
constexpr int ConsoleResultMs = 15000; // five silent waits of 2 s, and some
const QString SendSucceeded = QStringLiteral("发送成功");
const QString SendFailed = QStringLiteral("发送失败,请连接USB设备");
const QString UpgradeRunning = QStringLiteral("升级进行中，无法发送命令");
const QString MissingPortPath = QStringLiteral("/nonexistent/tavio-port");
const QByteArray Otra = QByteArray::fromHex("4F545241");
const QString NoBytes = QStringLiteral("命令中没有字节：请输入十六进制字节，如 4F 54");

QString notHex(const QString &token, const QString &character)
{
    return QStringLiteral("命令无效：%1 中的 %2 不是十六进制数字（0-9、A-F）").arg(token, character);
}

QString oddDigits(const QString &token)
{
    return QStringLiteral("命令无效：%1 的位数为奇数，每个字节需要两位十六进制数字").arg(token);
}
} // namespace

// The console command (its decoding, the settings page, the page) and the page's command sender.
class TestUpgradeConsole : public QObject
{
    Q_OBJECT

private slots:
    void init() { f.reset(new PageFixture); }
    void cleanup() { f.reset(); }

    void parse_acceptsOnlyPairsOfHexDigits_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes"); // when accepted
        QTest::addColumn<QString>("error");    // empty: accepted

        QTest::newRow("bytes apart") << "4F 54 52 41" << Otra << QString();
        QTest::newRow("bytes together, lower case") << "4f545241" << Otra << QString();
        QTest::newRow("tabs and line breaks") << "4F\t54\n52\r\n41" << Otra << QString();

        QTest::newRow("odd last token") << "4F 54 5" << QByteArray() << oddDigits("5");
        QTest::newRow("hex prefix") << "0x4F" << QByteArray() << notHex("0x4F", "x");
        QTest::newRow("full-width digit") << "4F \uFF14F" << QByteArray() << notHex("\uFF14F", "\uFF14");
        QTest::newRow("outside the basic plane") << QString::fromUtf8("4F\xF0\x9F\x98\x80") << QByteArray()
            << notHex(QString::fromUtf8("4F\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80"));
        QTest::newRow("first fault counts") << "5 4G" << QByteArray() << oddDigits("5");
        QTest::newRow("only whitespace") << " \t\n " << QByteArray() << NoBytes;
    }

    void parse_acceptsOnlyPairsOfHexDigits()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QByteArray parsed;
        QString reason;
        QCOMPARE(ConsoleCommand::parse(typed, &parsed, &reason), error.isEmpty());
        QCOMPARE(reason, error);
        if (error.isEmpty())
            QCOMPARE(parsed, bytes);
    }

    void console_typedCommand_isSentOffTheWindowThreadAndAnswered_data()
    {
        QTest::addColumn<QString>("device"); // healthy, gone, silent or refusing
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("box"); // title, text
        QTest::addColumn<QByteArray>("payload"); // of the one request; empty: none sent
        QTest::addColumn<int>("transmissions"); // of that request, counted when the device never takes it
        QTest::addColumn<bool>("truncationNoted");
        const QByteArray full = TestBytes::pattern(RecordBytes), padded = Otra.leftJustified(RecordBytes, '\0');
        const QStringList succeeded{Hint, SendSucceeded}, failed{Warning, SendFailed};
        const QString spaced = QStringLiteral("4F 54 52 41");
        // Typed with spaces around: the settings page passes the line on as it is.
        QTest::newRow("shorter: padded") << "healthy" << " " + spaced + " " << succeeded << padded << 1 << false;
        QTest::newRow("exactly the record") << "healthy" << QString::fromLatin1(full.toHex()) << succeeded << full
                                            << 1 << false;
        QTest::newRow("longer than the record") << "healthy" << QString::fromLatin1(TestBytes::pattern(40).toHex(' '))
                                                << succeeded << full << 1 << true;
        QTest::newRow("no device") << "gone" << spaced << QStringList{Hint, ConnectUsb} << QByteArray() << 0 << false;
        // A refusal is also the device's unknown error, but with no upgrade
        // running the worker leaves the telling to the console.
        QTest::newRow("refused every time") << "refusing" << spaced << failed << padded << ConsoleTransmissions << false;
        QTest::newRow("silent, the real two-second waits") << "silent" << spaced << failed << padded << ConsoleTransmissions
                                                           << false;
    }

    void console_typedCommand_isSentOffTheWindowThreadAndAnswered()
    {
        QFETCH(QString, device);
        QFETCH(QString, typed);
        QFETCH(QStringList, box);
        QFETCH(QByteArray, payload);
        QFETCH(int, transmissions);
        QFETCH(bool, truncationNoted);
        QVERIFY(f->startDevice());
        DeviceSimulator &sim = f->device->sim;
        if (device == QLatin1String("gone"))
            sim.vanish();
        sim.setSilent(device == QLatin1String("silent"));
        if (device == QLatin1String("refusing"))
            sim.refuseNext(ConsoleTransmissions, AR_COMMAND_SEND_TEXT);
        f->settingPage.reset(new SettingPage);
        UpgradePage *page = f->makePage(f->settingPage.get());
        f->boxes.expect(box.first(), box.last());
        auto *lineEdit = f->settingPage->findChild<QLineEdit *>(QStringLiteral("lineEdit"));
        lineEdit->setText(typed);
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        f->settingPage->findChild<QToolButton *>(QStringLiteral("SerialSendBtn"))->click();
        QVERIFY(done.isEmpty());
        QVERIFY(done.wait(ConsoleResultMs));
        VERIFY_BOXES(f->boxes);
        QCOMPARE(lineEdit->text(), typed); // kept for another try
        const QList<SimFrameRecord> sent = f->device->framesOf(AR_COMMAND_SEND_TEXT);
        QCOMPARE(firstTransmissions(sent).size(), payload.isEmpty() ? 0 : 1);
        if (transmissions > 1) // every transmission the link allows, all of the one request
            QCOMPARE(sent.size(), transmissions);
        if (!payload.isEmpty()) {
            QCOMPARE(sent.first().length, quint32(RecordBytes));
            QCOMPARE(sent.first().payload, payload);
        }
        const QString view = f->settingPage->findChild<QPlainTextEdit *>()->toPlainText();
        QCOMPARE(view.contains(QStringLiteral("只发送了前28个字节（共40个）")), truncationNoted);
    }

    // An empty line, a typo, then a line during an upgrade, typed on the settings page: none sends anything.
    void console_refusals_sendNothing_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("box"); // title, text
        QTest::newRow("empty line during an upgrade") << "" << QStringList{Hint, QStringLiteral("请输入指令")};
        QTest::newRow("odd digits during an upgrade") << "4F5" << QStringList{Warning, oddDigits("4F5")};
        QTest::newRow("valid during an upgrade") << "4F 54 52 41" << QStringList{Warning, UpgradeRunning};
    }

    void console_refusals_sendNothing()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, box);
        QVERIFY(f->startDevice());
        f->settingPage.reset(new SettingPage);
        UpgradePage *page = f->makePage(f->settingPage.get());
        page->setUpgradeFlag(true);
        f->boxes.expect(box.first(), box.last());
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        f->settingPage->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(typed);
        f->settingPage->findChild<QToolButton *>(QStringLiteral("SerialSendBtn"))->click();
        VERIFY_BOXES(f->boxes);
        QVERIFY(done.isEmpty());
        // A command through the same sender goes out after anything queued before it.
        page->setUpgradeFlag(false);
        f->boxes.expect(Hint, SendSucceeded);
        page->handleTextFromSettingPage(QStringLiteral("4F"));
        QVERIFY(done.wait(ConsoleResultMs));
        VERIFY_BOXES(f->boxes);
        QCOMPARE(f->device->commands(), QList<quint32>{AR_COMMAND_SEND_TEXT});
    }

    // The console's outcome arrives while Connect's box is still open: one box.
    void console_outcomeWhileConnectWarns_isShownOnce()
    {
        QVERIFY(f->startDevice());
        f->device->sim.vanish();
        UpgradePage *page = f->makePage();
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        bool answered = false;
        f->boxes.expect(Hint, ConnectUsb);
        f->boxes.whileShown([&] {
            page->handleTextFromSettingPage(QStringLiteral("4F"));
            answered = done.isEmpty() && done.wait(ConsoleResultMs); // sent off the window's thread
        });
        f->click("btnConnDevice");
        QVERIFY(answered);
        VERIFY_BOXES(f->boxes);
        QVERIFY(f->device->sim.frames().isEmpty());
    }

private:
    std::unique_ptr<PageFixture> f;
};

QTEST_MAIN(TestUpgradeConsole)
#include "tst_upgradeconsole.moc"

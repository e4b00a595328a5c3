#include "consolecommand.h"
#include "elidedlabel.h"
#include "mainwindow.h"
#include "messageboxes.h"
#include "sidebar.h"
#include "sidebarmenuitem.h"
#include "startup.h"
#include "upgradepage_fixture.h"
#include "upgradeprocess.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

using namespace PageTexts;

namespace {

constexpr int RecordBytes = 28;
constexpr int ConsoleTransmissions = 5;
constexpr int ConsoleResultMs = 15000; // five silent waits of 2 s, and some
const QString SendSucceeded = QStringLiteral("发送成功");
const QString SendFailed = QStringLiteral("发送失败,请连接USB设备");
const QString UpgradeRunning = QStringLiteral("升级进行中，无法发送命令");
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

const char SettingSource[] = "设置";

QString translatedSetting()
{
    return QCoreApplication::translate("SideBar", SettingSource);
}

// What the next start will read: the file itself, not this process's settings cache.
QString savedLanguage()
{
    const QRegularExpression lang(QStringLiteral("^lang=(.*)$"), QRegularExpression::MultilineOption);
    return lang.match(QString::fromUtf8(TestBytes::readFile(QStringLiteral("setting.ini")))).captured(1);
}

// Picks a language the way the user does: the entry becomes current and the
// combo box reports it as activated (also when it was already current).
void choose(SettingPage &page, int index)
{
    auto *combo = page.findChild<QComboBox *>(QStringLiteral("cmbLanguageList"));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// A catalogue that translates every text of one context to "marked".
class MarkerTranslator : public QTranslator
{
public:
    explicit MarkerTranslator(const char *context) : m_context(context) {}
    QString translate(const char *context, const char *, const char *, int) const override
    {
        return QLatin1String(context) == m_context ? QStringLiteral("marked") : QString();
    }
    bool isEmpty() const override { return false; }

private:
    QLatin1String m_context;
};

constexpr int AwayRebootMs = 600000; // the device stays away while the test acts

std::unique_ptr<MainWindow> shownWindow(SharedPortLister ports = std::make_shared<FixedPortLister>())
{
    auto window = std::make_unique<MainWindow>(std::move(ports));
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    return window;
}

SideBarMenuItem *entry(MainWindow &window, int index)
{
    return window.findChild<SideBar *>()->menuItem(index);
}

bool isHighlighted(SideBarMenuItem *item)
{
    return item->styleSheet() == SideBarMenuItem::SelectedStyle && item->findChild<QToolButton *>()->font().bold();
}

// Mouse events made by hand: QTest's cannot hold buttons during a move, and
// they take the point (0, 0) for "the widget's centre".
void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &pos, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void dragTo(MainWindow &window, const QPoint &globalPos, Qt::MouseButton button)
{
    sendMouse(&window, QEvent::MouseMove, window.mapFromGlobal(globalPos), Qt::NoButton, button);
}

// Acts on the modal box once it is open.
void whenBoxOpens(std::function<void(QMessageBox *)> action)
{
    QTimer::singleShot(50, [action] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        action(box);
    });
}

} // namespace

// The window and what it holds: its pages (the settings page and the console typed on it) and its boxes.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        Startup::initResources();
    }
    void init() { QFile::remove(QStringLiteral("setting.ini")); }

    void languageChoices_onlyTheLastCatalogueApplies_data()
    {
        QTest::addColumn<QString>("saved"); // null: no "lang" key
        QTest::addColumn<QString>("shown"); // the list entry at the start
        QTest::addColumn<QList<int>>("choices");
        const int en = SettingPage::English;
        const int cn = SettingPage::Chinese;
        QTest::newRow("no key, then cn en cn") << QString() << "中文" << QList<int>{cn, en, cn};
        QTest::newRow("english, then en en cn") << "english" << "English" << QList<int>{en, en, cn};
        QTest::newRow("English is not english") << "English" << "中文" << QList<int>{};
    }

    // The saved language selects its list entry, which is no choice: the catalogue of the start applies until the
    // first choice. A choice is stored and its catalogue installed; every choice takes the previous catalogue out,
    // so none of them outlives the page.
    void languageChoices_onlyTheLastCatalogueApplies()
    {
        QFETCH(QString, saved);
        QFETCH(QString, shown);
        QFETCH(QList<int>, choices);
        if (!saved.isNull())
            QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat).setValue(QStringLiteral("lang"), saved);
        {
            auto *startup = new MarkerTranslator("Startup");
            QCoreApplication::installTranslator(startup);
            QPointer<QTranslator> watch(startup);
            SettingPage page;
            page.adoptTranslator(startup);
            QCOMPARE(page.findChild<QComboBox *>(QStringLiteral("cmbLanguageList"))->currentText(), shown);
            QCOMPARE(QCoreApplication::translate("Startup", "text"), QStringLiteral("marked"));
            QCOMPARE(translatedSetting(), QString::fromUtf8(SettingSource));
            for (int index : choices) {
                choose(page, index);
                QVERIFY(watch.isNull());
                const bool english = index == SettingPage::English;
                QCOMPARE(translatedSetting(), english ? QStringLiteral("Setting") : QString::fromUtf8(SettingSource));
                QCOMPARE(savedLanguage(), english ? QStringLiteral("english") : QStringLiteral("chinese"));
            }
        }
        QCOMPARE(translatedSetting(), QString::fromUtf8(SettingSource));
    }

    void logView_foldsRunsOfTheSameMessage_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("lines"); // without their time stamps
        const QString times = QString(QChar(0x00D7));
        QTest::newRow("single") << QStringList{"a"} << QStringList{"a"};
        QTest::newRow("run") << QStringList{"a", "a", "a"} << QStringList{"a " + times + "3"};
        QTest::newRow("broken run") << QStringList{"a", "a", "b", "a"} << QStringList{"a " + times + "2", "b", "a"};
        QTest::newRow("two runs") << QStringList{"a", "b", "b", "a", "a"}
                                  << QStringList{"a", "b " + times + "2", "a " + times + "2"};
        QTest::newRow("empty messages") << QStringList{"", "", "a"} << QStringList{" " + times + "2", "a"};
        QTest::newRow("several lines") << QStringList{"a\nb", "a\nb"} << QStringList{"a", "b", "a", "b"};
    }

    // A run of the same message is one line, its count updated in place.
    void logView_foldsRunsOfTheSameMessage()
    {
        QFETCH(QStringList, messages);
        QFETCH(QStringList, lines);
        SettingPage page;
        for (const QString &message : messages)
            page.handleLogMessage(message);
        QString shown = page.findChild<QPlainTextEdit *>()->toPlainText();
        shown.remove(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] "),
                                        QRegularExpression::MultilineOption));
        QCOMPARE(shown.split('\n'), lines);
    }

    // Each line is stamped with the local time. The newest line shows when it comes in, also after the user
    // scrolled back, and when the page opens after lines came in while it was hidden.
    void logView_showsStampedLinesAndTheNewest()
    {
        constexpr int lineCount = 200;
        SettingPage page;
        QPlainTextEdit *view = page.findChild<QPlainTextEdit *>();
        const QTime before = QTime::currentTime();
        page.handleLogMessage(QStringLiteral("step 3: send file"));
        const QString line = view->toPlainText();
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^\\[(\\d\\d:\\d\\d:\\d\\d)\\] step 3: send file$")).match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QVERIFY(qAbs(before.secsTo(QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss")))) <= 1);

        page.resize(1000, 600);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QScrollBar *scrollBar = view->verticalScrollBar();
        for (int i = 0; i < lineCount; ++i)
            page.handleLogMessage(QStringLiteral("line %1").arg(i));
        QVERIFY(scrollBar->maximum() > 0);
        scrollBar->setValue(0); // the user scrolled back
        page.handleLogMessage(QStringLiteral("newest"));
        QCOMPARE(scrollBar->value(), scrollBar->maximum());

        page.hide(); // the user is on the upgrade page while the lines come in
        for (int i = 0; i < lineCount; ++i)
            page.handleLogMessage(QStringLiteral("hidden %1").arg(i));
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        // Many lines fit the view: the range is lines less a page, not lines less one.
        QVERIFY2(scrollBar->maximum() < 2 * lineCount + 1, qPrintable(QString::number(scrollBar->maximum())));
        QCOMPARE(scrollBar->value(), scrollBar->maximum());
        QVERIFY(view->cursorForPosition(QPoint(1, view->viewport()->height() - 5)).block().text().endsWith(
            QStringLiteral("hidden 199")));
    }

    // The console command (its decoding, the settings page, the page) and the page's command sender.
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
        PageFixture f;
        QVERIFY(f.startDevice());
        DeviceSimulator &sim = f.device->sim;
        if (device == QLatin1String("gone"))
            sim.vanish();
        sim.setSilent(device == QLatin1String("silent"));
        if (device == QLatin1String("refusing"))
            sim.refuseNext(ConsoleTransmissions, AR_COMMAND_SEND_TEXT);
        f.settingPage.reset(new SettingPage);
        UpgradePage *page = f.makePage(f.settingPage.get());
        f.boxes.expect(box.first(), box.last());
        auto *lineEdit = f.settingPage->findChild<QLineEdit *>(QStringLiteral("lineEdit"));
        lineEdit->setText(typed);
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        f.settingPage->findChild<QToolButton *>(QStringLiteral("SerialSendBtn"))->click();
        QVERIFY(done.isEmpty());
        QVERIFY(done.wait(ConsoleResultMs));
        VERIFY_BOXES(f.boxes);
        QCOMPARE(lineEdit->text(), typed); // kept for another try
        const QList<SimFrameRecord> sent = f.device->framesOf(AR_COMMAND_SEND_TEXT);
        QCOMPARE(firstTransmissions(sent).size(), payload.isEmpty() ? 0 : 1);
        if (transmissions > 1) // every transmission the link allows, all of the one request
            QCOMPARE(sent.size(), transmissions);
        if (!payload.isEmpty()) {
            QCOMPARE(sent.first().length, quint32(RecordBytes));
            QCOMPARE(sent.first().payload, payload);
        }
        const QString view = f.settingPage->findChild<QPlainTextEdit *>()->toPlainText();
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
        PageFixture f;
        QVERIFY(f.startDevice());
        f.settingPage.reset(new SettingPage);
        UpgradePage *page = f.makePage(f.settingPage.get());
        page->setUpgradeFlag(true);
        f.boxes.expect(box.first(), box.last());
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        f.settingPage->findChild<QLineEdit *>(QStringLiteral("lineEdit"))->setText(typed);
        f.settingPage->findChild<QToolButton *>(QStringLiteral("SerialSendBtn"))->click();
        VERIFY_BOXES(f.boxes);
        QVERIFY(done.isEmpty());
        // A command through the same sender goes out after anything queued before it.
        page->setUpgradeFlag(false);
        f.boxes.expect(Hint, SendSucceeded);
        page->handleTextFromSettingPage(QStringLiteral("4F"));
        QVERIFY(done.wait(ConsoleResultMs));
        VERIFY_BOXES(f.boxes);
        QCOMPARE(f.device->commands(), QList<quint32>{AR_COMMAND_SEND_TEXT});
    }

    // The console's outcome arrives while Connect's box is still open: one box.
    void console_outcomeWhileConnectWarns_isShownOnce()
    {
        PageFixture f;
        QVERIFY(f.startDevice());
        f.device->sim.vanish();
        UpgradePage *page = f.makePage();
        QSignalSpy done(page, &UpgradePage::consoleCommandDone);
        bool answered = false;
        f.boxes.expect(Hint, ConnectUsb);
        f.boxes.whileShown([&] {
            page->handleTextFromSettingPage(QStringLiteral("4F"));
            answered = done.isEmpty() && done.wait(ConsoleResultMs); // sent off the window's thread
        });
        f.click("btnConnDevice");
        QVERIFY(answered);
        VERIFY_BOXES(f.boxes);
        QVERIFY(f.device->sim.frames().isEmpty());
    }

    void clickingAnEntry_switchesPageBeforeMovingTheHighlight_data()
    {
        QTest::addColumn<int>("clicked");
        QTest::newRow("other entry") << int(MainWindow::SettingPageIndex);
        QTest::newRow("selected entry") << int(MainWindow::UpgradePageIndex);
    }

    void clickingAnEntry_switchesPageBeforeMovingTheHighlight()
    {
        QFETCH(int, clicked);
        const std::unique_ptr<MainWindow> window = shownWindow();
        QVERIFY(window);
        // The window opens frameless on the upgrade page, its entry highlighted.
        QVERIFY(window->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(window->currentPageIndex(), int(MainWindow::UpgradePageIndex));
        QVERIFY(window->findChild<UpgradePage *>()->isVisible());
        QVERIFY(!window->findChild<SettingPage *>()->isVisible());
        for (int i : {MainWindow::UpgradePageIndex, MainWindow::SettingPageIndex})
            QCOMPARE(isHighlighted(entry(*window, i)), i == MainWindow::UpgradePageIndex);

        // Connected after the window, so it sees the state once the page has switched.
        QList<int> pageAtSignal;
        QList<bool> oldEntryHighlightedAtSignal;
        connect(window->findChild<SideBar *>(), &SideBar::sigMenuClicked, this, [&](int index) {
            QCOMPARE(index, clicked);
            pageAtSignal.append(window->currentPageIndex());
            oldEntryHighlightedAtSignal.append(isHighlighted(entry(*window, MainWindow::UpgradePageIndex)));
        });

        QTest::mouseClick(entry(*window, clicked)->findChild<QToolButton *>(), Qt::LeftButton);
        QCOMPARE(pageAtSignal, QList<int>{clicked});
        QCOMPARE(oldEntryHighlightedAtSignal, QList<bool>{true});
        QCOMPARE(window->currentPageIndex(), clicked);
        for (int i : {MainWindow::UpgradePageIndex, MainWindow::SettingPageIndex})
            QCOMPARE(isHighlighted(entry(*window, i)), i == clicked);
    }

    void pressAndMove_dragsOnlyFromTheTitleBar_data()
    {
        QTest::addColumn<QString>("target"); // object name; empty: the window itself
        QTest::addColumn<QPoint>("pressAt");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("drags");
        QTest::newRow("title label") << "titleLabel" << QPoint(5, 5) << int(Qt::LeftButton) << true;
        QTest::newRow("title bar beside the corner") << "" << QPoint(1, 0) << int(Qt::LeftButton) << true;
        QTest::newRow("window's top-left pixel") << "" << QPoint(0, 0) << int(Qt::LeftButton) << false;
        QTest::newRow("title bar button") << "btnMinimize" << QPoint(5, 5) << int(Qt::LeftButton) << false;
        QTest::newRow("right button") << "titleLabel" << QPoint(5, 5) << int(Qt::RightButton) << false;
        QTest::newRow("below the title bar") << "" << QPoint(300, MainWindow::TitleBarHeight + 20)
                                             << int(Qt::LeftButton) << false;
    }

    void pressAndMove_dragsOnlyFromTheTitleBar()
    {
        QFETCH(QString, target);
        QFETCH(QPoint, pressAt);
        QFETCH(int, button);
        QFETCH(bool, drags);
        const QPoint start(200, 150), offset(60, 40);
        const std::unique_ptr<MainWindow> window = shownWindow();
        QVERIFY(window);
        window->move(start);
        QTRY_COMPARE(window->pos(), start);
        QWidget *widget = target.isEmpty() ? window.get() : window->findChild<QWidget *>(target);
        QVERIFY(widget);
        const auto mouseButton = Qt::MouseButton(button);

        sendMouse(widget, QEvent::MouseButtonPress, pressAt, mouseButton, mouseButton);
        dragTo(*window, widget->mapToGlobal(pressAt) + offset, mouseButton);
        const QPoint expected = drags ? start + offset : start;
        QTRY_COMPARE(window->pos(), expected);

        sendMouse(widget, QEvent::MouseButtonRelease, pressAt + offset, mouseButton, Qt::NoButton);
        dragTo(*window, widget->mapToGlobal(pressAt) + 2 * offset, mouseButton);
        QTest::qWait(50);
        QCOMPARE(window->pos(), expected); // the release ended any drag
    }

    void titleBar_togglesMaximisedStateThenCloses_data()
    {
        QTest::addColumn<bool>("useButton");
        QTest::newRow("double-click on the title") << false;
        QTest::newRow("□ button") << true;
    }

    void titleBar_togglesMaximisedStateThenCloses()
    {
        QFETCH(bool, useButton);
        const std::unique_ptr<MainWindow> window = shownWindow();
        QVERIFY(window);
        const auto toggle = [&](bool maximised) {
            if (useButton)
                QTest::mouseClick(window->findChild<QPushButton *>("btnMaximize"), Qt::LeftButton);
            else
                QTest::mouseDClick(window->findChild<QLabel *>("titleLabel"), Qt::LeftButton);
            QCOMPARE(window->windowState().testFlag(Qt::WindowMaximized), maximised);
        };

        toggle(true);
        toggle(false);

        ExpectedBoxes boxes; // none: no upgrade runs
        QTest::mouseClick(window->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
        VERIFY_BOXES(boxes);
        QVERIFY(!window->isVisible());
    }

    // The real box, answered with the keyboard as a user would.
    void closeQuestion_keysAndButtons_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("yes");
        QTest::newRow("Enter ends the upgrade") << "enter" << true;
        QTest::newRow("Escape ends the upgrade") << "escape" << true;
        QTest::newRow("Yes") << "yes" << true;
        QTest::newRow("No keeps it running") << "no" << false;
    }

    void closeQuestion_keysAndButtons()
    {
        QFETCH(QString, answer);
        QFETCH(bool, yes);
        whenBoxOpens([&](QMessageBox *box) {
            QCOMPARE(box->icon(), QMessageBox::Warning);
            if (answer == QLatin1String("enter"))
                QTest::keyClick(box, Qt::Key_Return);
            else if (answer == QLatin1String("escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->button(answer == QLatin1String("yes") ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        QCOMPARE(MessageBoxes::question(nullptr, Hint, StillUpgrading), yes);
    }

    // The upgrade waits out the device's reboot (seconds on the real clock, and
    // the device stays away), so it runs while the test closes.
    void closeDuringAnUpgrade_asksAndEndsTheUpgradeOnYes()
    {
        PageFixture f;
        QVERIFY(f.startDevice());
        f.device->sim.setRebootDelay(AwayRebootMs);
        const QString image = f.writeFile(QStringLiteral("Merlow_R_Sky_1_0_6.img"), QByteArray(1024, '\x5A'));
        const std::unique_ptr<MainWindow> window = shownWindow(f.device->ports);
        QVERIFY(window);
        auto *page = window->findChild<UpgradePage *>();
        page->handleDeviceDetected(f.device->sim.identity().vendorId);
        QSignalSpy answered(page, &UpgradePage::connectAnswered);
        page->findChild<QToolButton *>(QStringLiteral("btnConnDevice"))->click();
        QVERIFY(answered.wait());
        page->setFileChooser([image] { return image; });
        page->findChild<QToolButton *>(QStringLiteral("btnSelectBinFile"))->click();
        page->findChild<QToolButton *>(QStringLiteral("btnUpgrade"))->click();
        VERIFY_BOXES(f.boxes);
        QVERIFY(page->getUpgradeFlag());
        QTRY_VERIFY(page->worker()->beRun()); // a reset before the sequence starts would be lost

        f.boxes.expect(Hint, StillUpgrading, QMessageBox::No);
        QTest::mouseClick(window->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
        VERIFY_BOXES(f.boxes);
        QVERIFY(window->isVisible());
        QVERIFY(page->getUpgradeFlag());
        QVERIFY(page->worker()->isSequenceRunning());

        f.boxes.expect(Hint, StillUpgrading, QMessageBox::Yes);
        QVERIFY(window->close());
        VERIFY_BOXES(f.boxes);
        QVERIFY(!window->isVisible());
        QVERIFY(!page->getUpgradeFlag());
        // Ended and waited for before the window went.
        QVERIFY(!page->worker()->isSequenceRunning());
        QCOMPARE(m_upgrade_device_vid.load(), 0);
    }

    // The language names stay as they are in either language.
    // Whatever a label holds, in either language, the window keeps its size:
    // long texts wrap or are cut short with the whole text in the tooltip.
    void longTexts_keepTheWindowsSize_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        const QString chinese = QStringLiteral("升级完成！ 未通过验证：重启后的设备报告固件 Merlow_R_Sky_1_0_5，与 "
                                               "Merlow_R_Sky_1_0_6_with_a_very_long_release_name_for_the_bench.img 的版本不符");
        const QString english = QStringLiteral("Upgrade complete! Not verified: the restarted device reports firmware "
                                               "Merlow_R_Sky_1_0_5, which is not the version of "
                                               "Merlow_R_Sky_1_0_6_with_a_very_long_release_name_for_the_bench.img");
        for (const char *label : {"lbNote", "lbConnNote", "lbFirmware", "lbSn", "lbHardware", "progressBar"}) {
            QTest::addRow("%s, Chinese", label) << label << chinese;
            QTest::addRow("%s, English", label) << label << english;
        }
    }

    void longTexts_keepTheWindowsSize()
    {
        QFETCH(QString, label);
        QFETCH(QString, text);
        const std::unique_ptr<MainWindow> window = shownWindow();
        QVERIFY(window);
        auto *page = window->findChild<UpgradePage *>();
        const bool onPrompt = label == QLatin1String("lbConnNote");
        page->findChild<QWidget *>(QStringLiteral("widgetConn"))->setVisible(onPrompt);
        page->findChild<QWidget *>(QStringLiteral("widgetUpg"))->setVisible(!onPrompt);
        QWidget *shown = page->findChild<QWidget *>(label);
        if (auto *bar = qobject_cast<QProgressBar *>(shown))
            bar->setFormat(text);
        else
            qobject_cast<QLabel *>(shown)->setText(text);
        QTest::qWait(0);
        QApplication::sendPostedEvents();
        QCOMPARE(window->size(), QSize(1100, 720));
        QVERIFY(shown->geometry().right() < page->width());
        if (qobject_cast<ElidedLabel *>(shown)) {
            shown->repaint();
            QCOMPARE(shown->toolTip(), text); // cut short on screen, whole in the tooltip
        }
    }

    // The bar's text stays readable over the bar's blue and over its empty
    // track: a contrast of at least 4.5:1 against both.
    void barText_isReadableOverBothColours()
    {
        const auto luminance = [](const QColor &colour) {
            const auto linear = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
            return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
        };
        const auto colourAfter = [](const QString &sheet, const QString &key) {
            const QRegularExpression rgb(QRegularExpression::escape(key) + QStringLiteral(R"(:\s*rgb\((\d+),\s*(\d+),\s*(\d+)\))"));
            const QRegularExpressionMatch m = rgb.match(sheet);
            return m.hasMatch() ? QColor(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QColor();
        };
        PageFixture f;
        f.makePage();
        const QString sheet = f.bar()->styleSheet();
        const QString bar = sheet.left(sheet.indexOf(QLatin1String("::chunk")));
        const QString chunk = sheet.mid(sheet.indexOf(QLatin1String("::chunk")));
        const double text = luminance(colourAfter(bar, QStringLiteral(" color")));
        for (const QColor &under : {colourAfter(bar, QStringLiteral("background-color")),
                                    colourAfter(chunk, QStringLiteral("background-color"))}) {
            QVERIFY(under.isValid());
            const double lighter = qMax(text, luminance(under)), darker = qMin(text, luminance(under));
            QVERIFY2((lighter + 0.05) / (darker + 0.05) >= 4.5, qPrintable(under.name()));
        }
    }

    void languageChoice_retranslatesTheSideBarAndTheFormButNotTheTitle()
    {
        // The two entries, the version, then the setting page's log button.
        const QMap<int, QStringList> texts{
            {SettingPage::English, {"Upgrade", "Setting", "Version: V1.1.6", "Log"}},
            {SettingPage::Chinese, {"升级固件", "设置", "版本号：V1.1.6", "日志"}}};
        const std::unique_ptr<MainWindow> window = shownWindow();
        QVERIFY(window);
        auto *combo = window->findChild<QComboBox *>(QStringLiteral("cmbLanguageList"));
        const QLayout *sideBarLayout =
            window->findChild<SideBar *>()->findChild<QVBoxLayout *>(QStringLiteral("mainLayout"));
        const int sideBarItems = sideBarLayout->count();

        for (int index : {SettingPage::English, SettingPage::Chinese}) {
            choose(*window->findChild<SettingPage *>(), index);
            QCoreApplication::processEvents(); // the language-change events are posted
            QCOMPARE(entry(*window, MainWindow::UpgradePageIndex)->text(), texts[index].at(0));
            QCOMPARE(entry(*window, MainWindow::SettingPageIndex)->text(), texts[index].at(1));
            QCOMPARE(window->findChild<QLabel *>(QStringLiteral("versionlabel"))->text(), texts[index].at(2));
            QCOMPARE(window->findChild<QPushButton *>(QStringLiteral("btnLog"))->text(), texts[index].at(3));
            QCOMPARE(QStringList({combo->itemText(SettingPage::Chinese), combo->itemText(SettingPage::English)}),
                     QStringList({"中文", "English"}));
            QCOMPARE(sideBarLayout->count(), sideBarItems); // the version keeps its place
            QCOMPARE(window->findChild<QLabel *>("titleLabel")->text(), QStringLiteral("Tavio PC Tool"));
            QCOMPARE(window->windowTitle(), QStringLiteral("Tavio PC Tool")); // the task bar's name
            // Qt's own buttons follow the choice.
            QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"),
                     index == SettingPage::English ? QStringLiteral("OK") : QStringLiteral("确定"));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

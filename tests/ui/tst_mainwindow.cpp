#include "elidedlabel.h"
#include "mainwindow.h"
#include "sidebar.h"
#include "sidebarmenuitem.h"
#include "startup.h"
#include "upgradepage_fixture.h"
#include "upgradeprocess.h"

#include <QComboBox>
#include <QRegularExpression>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

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

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        Startup::initResources();
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
        QCOMPARE(window->size(), QSize(1100, 720));
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

        f.boxes.expect(PageTexts::Hint, PageTexts::StillUpgrading, QMessageBox::No);
        QTest::mouseClick(window->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
        VERIFY_BOXES(f.boxes);
        QVERIFY(window->isVisible());
        QVERIFY(page->getUpgradeFlag());
        QVERIFY(page->worker()->isSequenceRunning());

        f.boxes.expect(PageTexts::Hint, PageTexts::StillUpgrading, QMessageBox::Yes);
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
            combo->setCurrentIndex(index);
            emit combo->activated(index);
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

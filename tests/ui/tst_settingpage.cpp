#include "settingpage.h"
#include "startup.h"
#include "testbytes.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

namespace {

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

} // namespace

class TestSettingPage : public QObject
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

    // The saved language selects its list entry, which is no choice: the
    // catalogue of the start applies until the first choice. A choice is stored
    // and its catalogue installed; every choice takes the previous catalogue out,
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

    // Each line is stamped with the local time. The newest line shows when it
    // comes in, also after the user scrolled back, and when the page opens after
    // lines came in while it was hidden.
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

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestSettingPage)
#include "tst_settingpage.moc"
